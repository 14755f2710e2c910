// navwatch's repeat mending: one to five copies of any text.  The mended
// text is the best copy with characters replaced, never longer or shorter;
// a single copy comes back as it is; the error rate matches the text.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "mend.h"
#include "fuzz_support.h"

using fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	FuzzedDataProvider in(data, size);
	int n = in.ConsumeIntegralInRange<int>(1, 5);
	std::vector<std::string> copies;
	for (int i = 0; i < n; ++i)
		copies.push_back(in.ConsumeRandomLengthString(2000));
	mend_result r = mend_copies(copies);
	check(r.base >= 0 && r.base < n);
	const std::string &base = copies[static_cast<size_t>(r.base)];
	check(r.text.size() == base.size());
	size_t changed = 0;
	for (size_t p = 0; p < base.size(); ++p)
		changed += r.text[p] != base[p];
	check(static_cast<int>(changed) == r.filled);
	// A filled character is never an error mark, and a copy alone is kept.
	check(std::count(r.text.begin(), r.text.end(), '*') <= std::count(base.begin(), base.end(), '*'));
	if (n == 1)
		check(r.text == copies[0]);
	check(r.error_pct == mend_error_pct(r.text));
	return 0;
}
