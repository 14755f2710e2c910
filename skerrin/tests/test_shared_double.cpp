// The level shared between the acquisition loop and the server: a reader
// racing the writer must only ever see whole values.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "shared_double.h"

TEST(SharedDouble, StartsAtZeroAndKeepsExactValues)
{
	shared_double d;
	EXPECT_EQ(d.load(), 0.0);
	d = -39.606028123456;
	EXPECT_EQ(d.load(), -39.606028123456);
	d.store(1e300);
	EXPECT_EQ(d.load(), 1e300);
}

TEST(SharedDouble, ReaderNeverSeesAHalfWrittenValue)
{
	// The two values differ in both 32-bit halves, so a torn read would
	// give a third value.
	const double a = -39.5, b = 1.2345678901234e-200;
	shared_double d;
	d = a;
	std::atomic<bool> stop{false};
	std::atomic<long> torn{0}, reads{0};
	std::thread reader([&] {
		while (!stop.load()) {
			double v = d.load();
			if (v != a && v != b)
				torn++;
			reads++;
		}
	});
	for (int k = 0; k < 2000000 || reads.load() < 1000; k++)
		d = (k & 1) ? a : b;
	stop = true;
	reader.join();
	EXPECT_EQ(torn.load(), 0);
	EXPECT_GT(reads.load(), 0);
}
