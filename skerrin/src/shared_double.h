// A double written by one thread (the acquisition loop) and read by others
// (the protocol server) without a lock.  On the board's ARMv5 an 8-byte
// atomic would be emulated with a lock, so the value is published as two
// 32-bit halves under a sequence counter: the writer never waits, and a
// reader only retries while a write is under way.
#ifndef SKERRIN_SHARED_DOUBLE_H
#define SKERRIN_SHARED_DOUBLE_H

#include <atomic>
#include <cstdint>
#include <cstring>

class shared_double {
public:
	shared_double() = default;
	shared_double(const shared_double &) = delete;
	shared_double &operator=(const shared_double &) = delete;

	// Single writer only.
	void store(double v, std::memory_order = std::memory_order_seq_cst) noexcept
	{
		uint64_t bits;
		std::memcpy(&bits, &v, sizeof bits);
		const uint32_t s = seq_.load(std::memory_order_relaxed);
		seq_.store(s + 1, std::memory_order_relaxed);
		std::atomic_thread_fence(std::memory_order_release);
		lo_.store(static_cast<uint32_t>(bits), std::memory_order_relaxed);
		hi_.store(static_cast<uint32_t>(bits >> 32), std::memory_order_relaxed);
		seq_.store(s + 2, std::memory_order_release);
	}

	double load(std::memory_order = std::memory_order_seq_cst) const noexcept
	{
		uint32_t s1, s2, lo, hi;
		do {
			s1 = seq_.load(std::memory_order_acquire);
			lo = lo_.load(std::memory_order_relaxed);
			hi = hi_.load(std::memory_order_relaxed);
			std::atomic_thread_fence(std::memory_order_acquire);
			s2 = seq_.load(std::memory_order_relaxed);
		} while ((s1 & 1) != 0 || s1 != s2);
		const uint64_t bits = (static_cast<uint64_t>(hi) << 32) | lo;
		double v;
		std::memcpy(&v, &bits, sizeof v);
		return v;
	}

	shared_double &operator=(double v) noexcept
	{
		store(v);
		return *this;
	}

private:
	std::atomic<uint32_t> seq_{0};
	std::atomic<uint32_t> lo_{0};
	std::atomic<uint32_t> hi_{0};
};

#endif
