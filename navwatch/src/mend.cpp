// Repeats that mend: banded global alignment of each copy against the
// best copy ('*' matches anything), then a vote per position.
#include "mend.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstdint>

namespace {

// Widest band tried either side of the diagonal (plus the length
// difference): lost characters come one or a few at a time.
constexpr int kBand = 24;
constexpr int kMaxSkew = 200;
constexpr int kMaxLength = 64 * 1024;

int errors_in(const std::string &t)
{
	return static_cast<int>(std::count(t.begin(), t.end(), '*'));
}

// For each position of base, the character of other aligned there, or 0
// when other has none (a gap).  Substitutions cost 2, gaps 3, '*' against
// anything 1, equal characters 0.
std::vector<char> align(const std::string &base, const std::string &other)
{
	const int n = static_cast<int>(base.size());
	const int m = static_cast<int>(other.size());
	std::vector<char> out(static_cast<size_t>(n), 0);
	// Copies this different are not one message: nothing to take.
	if (n == 0 || m == 0 || std::abs(n - m) > kMaxSkew || n > kMaxLength)
		return out;
	const int band = kBand + std::abs(n - m);
	const int w = 2 * band + 1;
	// cost[i][k] for j = i + k - band; trace: 0 diagonal, 1 up (gap in
	// other), 2 left (extra in other).
	const int inf = INT_MAX / 4;
	std::vector<int> cost(static_cast<size_t>(n + 1) * w, inf);
	std::vector<uint8_t> trace(static_cast<size_t>(n + 1) * w, 0);
	auto at = [&](int i, int j) -> int { return i * w + (j - i + band); };
	auto inside = [&](int i, int j) { return j >= 0 && j <= m && j - i >= -band && j - i <= band; };
	for (int j = 0; j <= std::min(m, band); ++j) {
		cost[at(0, j)] = 3 * j;
		trace[at(0, j)] = 2;
	}
	for (int i = 1; i <= n; ++i) {
		for (int j = std::max(0, i - band); j <= std::min(m, i + band); ++j) {
			int best = inf, how = 0;
			if (j > 0 && inside(i - 1, j - 1) && cost[at(i - 1, j - 1)] < inf) {
				char a = base[i - 1], b = other[j - 1];
				int c = a == b ? 0 : (a == '*' || b == '*') ? 1 : 2;
				best = cost[at(i - 1, j - 1)] + c;
			}
			if (inside(i - 1, j) && cost[at(i - 1, j)] < inf && cost[at(i - 1, j)] + 3 < best) {
				best = cost[at(i - 1, j)] + 3;
				how = 1;
			}
			if (j > 0 && inside(i, j - 1) && cost[at(i, j - 1)] < inf && cost[at(i, j - 1)] + 3 < best) {
				best = cost[at(i, j - 1)] + 3;
				how = 2;
			}
			cost[at(i, j)] = best;
			trace[at(i, j)] = static_cast<uint8_t>(how);
		}
	}
	if (!inside(n, m) || cost[at(n, m)] >= inf)
		return out;
	int i = n, j = m;
	while (i > 0 && j >= 0) {
		int how = trace[at(i, j)];
		if (how == 0 && j > 0) {
			out[static_cast<size_t>(i - 1)] = other[static_cast<size_t>(j - 1)];
			--i;
			--j;
		} else if (how == 1 || j == 0) {
			--i;
		} else {
			--j;
		}
	}
	return out;
}

} // namespace

double mend_error_pct(const std::string &text)
{
	if (text.empty())
		return 0;
	return 100.0 * errors_in(text) / static_cast<double>(text.size());
}

mend_result mend_copies(const std::vector<std::string> &copies)
{
	mend_result r;
	if (copies.empty())
		return r;
	// The copy with the fewest errors, the newest on a tie.
	int base = 0;
	double best = 1e9;
	for (size_t k = 0; k < copies.size(); ++k) {
		double e = mend_error_pct(copies[k]);
		if (!copies[k].empty() && e <= best) {
			best = e;
			base = static_cast<int>(k);
		}
	}
	r.base = base;
	r.text = copies[static_cast<size_t>(base)];
	std::vector<std::vector<char>> columns;
	for (size_t k = 0; k < copies.size(); ++k)
		if (static_cast<int>(k) != base)
			columns.push_back(align(r.text, copies[k]));
	const bool vote = copies.size() >= 3;
	for (size_t p = 0; p < r.text.size(); ++p) {
		char own = r.text[p];
		if (own != '*' && !vote)
			continue;
		// Votes: the base's own character counts, '*' and gaps do not.
		int count[256] = {};
		if (own != '*')
			++count[static_cast<unsigned char>(own)];
		// Newest first, so that a tie goes to the newer copy.
		char pick = own != '*' ? own : 0;
		int pick_n = own != '*' ? 1 : 0;
		for (auto it = columns.rbegin(); it != columns.rend(); ++it) {
			char c = (*it)[p];
			if (c == 0 || c == '*')
				continue;
			int n = ++count[static_cast<unsigned char>(c)];
			if (n > pick_n) {
				pick = c;
				pick_n = n;
			}
		}
		if (pick != 0 && pick != own) {
			r.text[p] = pick;
			++r.filled;
		}
	}
	r.error_pct = mend_error_pct(r.text);
	return r;
}
