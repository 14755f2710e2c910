// For the tests of navaudio and navsdr, which run the programs: a command
// run through the shell (its output and standard error as one text, and
// its wait status), shell quoting, and a private folder for files that is
// removed at the end of the test.
#ifndef STREAMCONV_PROGRAM_TEST_H
#define STREAMCONV_PROGRAM_TEST_H

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace streamconv_test {

inline std::string run(const std::string &cmd, int &status)
{
	FILE *p = popen(("( " + cmd + " ) 2>&1").c_str(), "r");
	std::string out;
	char buf[512];
	while (p && fgets(buf, sizeof buf, p))
		out += buf;
	status = p ? pclose(p) : -1;
	return out;
}

inline std::string q(const std::string &s)
{
	return "'" + s + "'";
}

struct Scratch {
	std::filesystem::path dir;
	Scratch()
	{
		char tmpl[] = "/tmp/streamconv-test-XXXXXX";
		dir = mkdtemp(tmpl);
	}
	~Scratch() { std::filesystem::remove_all(dir); }
	std::string operator/(const std::string &name) const { return (dir / name).string(); }
	// Names in the folder, to see that nothing was left behind.
	std::vector<std::string> names() const
	{
		std::vector<std::string> v;
		for (auto &e : std::filesystem::directory_iterator(dir))
			v.push_back(e.path().filename().string());
		return v;
	}
};

} // namespace streamconv_test

#endif
