// Charts through gnuplot: points and script to a scratch folder, then the
// program run on them and its exit status checked.
#include "charts.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

extern char **environ;

namespace sensitivity {

namespace {

// One colour per chain, told apart in grey print too.
const char *const kColours[] = {"#1f4fb4", "#d2491e", "#2a9d3a", "#7d3c98"};
const char *const kDashes[] = {"1", "2", "3"}; // gnuplot dash types: solid, dashed, dotted

// A gnuplot single-quoted string: nothing is special inside but the quote,
// which is doubled.
std::string quote(const std::string &s)
{
	std::string q = "'";
	for (char ch : s) {
		q += ch;
		if (ch == '\'')
			q += '\'';
	}
	return q + "'";
}

std::string num(double v)
{
	char buf[64];
	std::snprintf(buf, sizeof buf, "%.10g", v);
	return buf;
}

std::string slurp(const std::string &path)
{
	std::ifstream in(path);
	std::stringstream s;
	s << in.rdbuf();
	return s.str();
}

// Runs the program on the script with its output going to `log`; empty on
// success.
std::string run(const std::string &gnuplot, const std::string &script, const std::string &log)
{
	posix_spawn_file_actions_t fa;
	posix_spawn_file_actions_init(&fa);
	posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
	posix_spawn_file_actions_addopen(&fa, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
	posix_spawn_file_actions_adddup2(&fa, 1, 2);
	std::vector<char *> argv = {const_cast<char *>(gnuplot.c_str()), const_cast<char *>(script.c_str()), nullptr};
	pid_t pid;
	const int err = posix_spawnp(&pid, gnuplot.c_str(), &fa, nullptr, argv.data(), environ);
	posix_spawn_file_actions_destroy(&fa);
	if (err == ENOENT)
		return "cannot run " + gnuplot + ": not found (install gnuplot, Debian package gnuplot-nox)";
	if (err != 0)
		return "cannot run " + gnuplot + ": " + strerror(err);
	int status = 0;
	while (waitpid(pid, &status, 0) < 0)
		if (errno != EINTR)
			return std::string("waiting for gnuplot: ") + strerror(errno);
	if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
		return "";
	std::string out = slurp(log);
	while (!out.empty() && (out.back() == '\n' || out.back() == ' '))
		out.pop_back();
	// posix_spawnp may report a missing program only through the child.
	if (WIFEXITED(status) && WEXITSTATUS(status) == 127 && out.empty())
		return "cannot run " + gnuplot + ": not found (install gnuplot, Debian package gnuplot-nox)";
	const std::string how = WIFEXITED(status) ? "exit status " + std::to_string(WEXITSTATUS(status))
						  : "signal " + std::to_string(WTERMSIG(status));
	return gnuplot + " failed (" + how + ")" + (out.empty() ? "" : ": " + out);
}

} // namespace

std::string draw_chart(const chart &c, const std::string &png_path, const std::string &gnuplot)
{
	if (c.panels.empty())
		return "nothing to draw";
	const char *tmpdir = std::getenv("TMPDIR");
	std::string dir = std::string(tmpdir && *tmpdir ? tmpdir : "/tmp") + "/sensitivity-chart.XXXXXX";
	if (!mkdtemp(dir.data()))
		return "cannot make a scratch folder in " + dir.substr(0, dir.rfind('/')) + ": " + strerror(errno);
	const std::string data = dir + "/points.dat", script = dir + "/chart.gp", log = dir + "/gnuplot.log";

	// Points: one block per series, blocks two blank lines apart so that
	// gnuplot's "index" picks them.
	std::ostringstream pts, gp;
	int block = 0, points = 0;
	std::vector<std::string> keyed; // a title is explained once, in the upper panel
	const double height = 1.0 / double(c.panels.size());
	gp << "set terminal pngcairo noenhanced size 800,600 font 'DejaVu Sans,10'\n"
	   << "set output " << quote(png_path) << "\n"
	   << "set datafile separator whitespace\n"
	   << "set grid xtics ytics mytics lc rgb '#d8d8d8' lt 1\n"
	   << "set key left top vertical Left reverse samplen 3 spacing 1.1\n"
	   << "set autoscale xfix\n"
	   << "set xrange [" << (std::isnan(c.xmin) ? "*" : num(c.xmin)) << ":"
	   << (std::isnan(c.xmax) ? "*" : num(c.xmax)) << "]\n"
	   << "set lmargin 10\nset rmargin at screen 0.67\n"
	   << "set multiplot title " << quote(c.title) << " font ',12'\n";
	for (size_t i = 0; i < c.panels.size(); i++) {
		const panel &p = c.panels[i];
		const bool last = i + 1 == c.panels.size();
		// The title takes the top of the picture; the x label the bottom.
		const double top = 0.94 - 0.94 * height * double(i), bottom = 0.94 - 0.94 * height * double(i + 1);
		gp << "set tmargin at screen " << num(top) << "\nset bmargin at screen "
		   << num(last ? std::max(bottom, 0.0) + 0.08 : bottom + 0.02) << "\n";
		gp << (last ? "set xlabel " + quote(c.xlabel) + "\nset format x '%g'\n" : "unset xlabel\nset format x ''\n");
		gp << "set ylabel " << quote(p.ylabel) << "\n";
		// The key right of the panel it explains.
		gp << "set key at screen 0.69, screen " << num(top) << "\n";
		if (p.log_y)
			gp << "set logscale y\nset format y '%g'\nset mytics 10\n";
		else
			gp << "unset logscale y\nset format y '%g'\nset mytics default\n";
		// A little room beyond the limits, so that points on the floor or
		// at the top are not hidden in the frame.
		if (p.log_y)
			gp << "set yrange [" << num(p.ymin / 1.5) << ":" << num(p.ymax * 1.5) << "]\n";
		else
			gp << "set yrange [" << num(p.ymin - 0.04 * (p.ymax - p.ymin)) << ":"
			   << num(p.ymax + 0.04 * (p.ymax - p.ymin)) << "]\n";
		std::vector<std::string> plots;
		for (const series &s : p.lines) {
			int n = 0;
			for (size_t k = 0; k < s.x.size() && k < s.y.size(); k++) {
				if (std::isnan(s.y[k]) || std::isnan(s.x[k]))
					continue;
				// Zero has no place on a log axis: drawn on the floor.
				const double y = p.log_y ? std::max(s.y[k], p.ymin) : s.y[k];
				pts << num(s.x[k]) << " " << num(y) << "\n";
				n++;
			}
			if (n == 0)
				continue;
			pts << "\n\n";
			points += n;
			const int colour = std::clamp(s.colour, 0, int(std::size(kColours)) - 1);
			const int dash = std::clamp(s.dash, 0, int(std::size(kDashes)) - 1);
			const bool known = std::find(keyed.begin(), keyed.end(), s.title) != keyed.end();
			if (!known)
				keyed.push_back(s.title);
			plots.push_back(quote(data) + " index " + std::to_string(block++) +
					" using 1:2 with linespoints lw 1.6 pt 7 ps 0.55 lc rgb '" + kColours[colour] +
					"' dt " + kDashes[dash] + (known ? " notitle" : " title " + quote(s.title)));
		}
		if (!std::isnan(p.yref))
			plots.push_back(num(p.yref) + " with lines lc rgb '#909090' dt 2 lw 1 notitle");
		if (plots.empty())
			plots.push_back("NaN notitle");
		gp << "plot ";
		for (size_t k = 0; k < plots.size(); k++)
			gp << (k ? ", \\\n     " : "") << plots[k];
		gp << "\n";
	}
	gp << "unset multiplot\nset output\n";

	std::string err;
	if (points == 0) {
		err = "no points to draw";
	} else {
		std::ofstream d(data), s(script);
		d << pts.str();
		s << gp.str();
		d.close();
		s.close();
		if (!d || !s)
			err = "cannot write the chart's scratch files in " + dir;
	}
	if (err.empty())
		err = run(gnuplot, script, log);
	struct stat st;
	if (err.empty() && (stat(png_path.c_str(), &st) != 0 || st.st_size == 0))
		err = "gnuplot wrote no picture to " + png_path;
	for (const std::string &f : {data, script, log})
		std::remove(f.c_str());
	rmdir(dir.c_str());
	return err;
}

} // namespace sensitivity
