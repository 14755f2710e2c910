// navwatch's costs.
//
// In process: one message decided and committed (memory lookup, filter,
// copies, insert) per iteration, one transaction each and in batches of 64
// as the main loop commits them; the newest 50 listed from a full store
// (2,000 messages on each of the three frequencies), with and without a
// text filter; mending a 500-character message from three copies.
//
// The program: navwatch -f against a loopback server that hands out
// generated messages as fast as they are asked for, with every output on
// (JSON lines to a file, NRX to UDP and to a TCP client, the printer to
// /dev/null); msgs_per_s from wall time, cpu_s_per_kmsg from the child's
// CPU time; rss_kb sampled at 10,000 and at 100,000 messages shows whether
// memory stays flat.
#include <arpa/inet.h>
#include <fcntl.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "loopback_listener.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include "keeper.h"
#include "mend.h"
#include "store.h"

namespace {

std::string bench_dir()
{
	// On the disk the build lives on, not tmpfs: syncs must cost what they cost.
	static std::string dir = [] {
		char tmpl[] = "navwatch-bench-XXXXXX";
		return std::string(mkdtemp(tmpl));
	}();
	return dir;
}

std::string text_of(int i)
{
	std::string t = "NAVAREA I " + std::to_string(i) + "/26\nENGLISH CHANNEL. DOVER STRAIT.\n";
	while (t.size() < 300)
		t += "BUOY 51-02.3N 001-31.6E UNLIT. ";
	return t + "\nNNNN";
}

std::string ident_of(int i)
{
	char id[16]; // room for any int: the compiler cannot see the serial stays within 99
	snprintf(id, sizeof id, "%c%c%02d", 'A' + i % 24, "ABCDEFGHJKL"[(i / 24) % 11], 1 + (i / 264) % 99);
	return id;
}

void BM_DecideAndCommit(benchmark::State &state)
{
	const int batch = static_cast<int>(state.range(0));
	std::string err, path = bench_dir() + "/put" + std::to_string(batch) + ".db";
	unlink(path.c_str());
	store *s = store_open(path, STORE_OPEN_CREATE, &err);
	filter_obj f;
	message_filter_init(&f);
	message_filter_add_station(&f, 490, "K");
	int i = 0;
	for (auto _ : state) {
		if (batch > 1)
			store_begin(s, &err);
		for (int k = 0; k < batch; ++k, ++i) {
			taken_msg t;
			t.freq = i % 3 == 0 ? 490 : i % 3 == 1 ? 518 : 4209;
			t.ident = t.raw_ident = ident_of(i);
			t.text = text_of(i);
			keeper_result r;
			keeper_decide(s, &f, t, 1700000000 + i, &r, &err);
			store_put(s, r.msg, r.remember, &err);
		}
		if (batch > 1)
			store_commit(s, &err);
	}
	state.counters["msgs_per_s"] =
		benchmark::Counter(static_cast<double>(i), benchmark::Counter::kIsRate);
	message_filter_free(&f);
	store_close(s);
}
BENCHMARK(BM_DecideAndCommit)->Arg(1)->Arg(64)->UseRealTime();

store *full_store()
{
	static store *s = [] {
		std::string err, path = bench_dir() + "/full.db";
		unlink(path.c_str());
		store *st = store_open(path, STORE_OPEN_CREATE, &err);
		store_begin(st, &err);
		for (int i = 0; i < 6000; ++i) {
			stored_msg m;
			m.freq = i % 3 == 0 ? 490 : i % 3 == 1 ? 518 : 4209;
			m.ident = ident_of(i);
			m.text = text_of(i);
			m.rcv_time = m.taken_time = 1700000000 + i;
			m.decision = i % 7 == 0 ? msg_decision::repeat : msg_decision::shown;
			store_put(st, m, false, &err);
		}
		store_commit(st, &err);
		return st;
	}();
	return s;
}

void BM_ListNewest50(benchmark::State &state)
{
	store *s = full_store();
	store_query q;
	q.limit = 50;
	if (state.range(0) == 1)
		q.text = "DOVER";
	if (state.range(0) == 2)
		q.freq = 518;
	std::vector<stored_msg> v;
	std::string err;
	for (auto _ : state) {
		benchmark::DoNotOptimize(store_list(s, q, &v, &err));
		benchmark::DoNotOptimize(store_count(s, q, &err));
	}
}
BENCHMARK(BM_ListNewest50)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

void BM_Mend3x500(benchmark::State &state)
{
	std::string good = text_of(1);
	good.resize(500, 'X');
	std::vector<std::string> copies(3, good);
	for (int k = 0; k < 3; ++k)
		for (size_t p = static_cast<size_t>(k) * 7; p < good.size(); p += 23)
			copies[static_cast<size_t>(k)][p] = '*';
	copies[1].erase(100, 1); // a lost character
	for (auto _ : state)
		benchmark::DoNotOptimize(mend_copies(copies));
}
BENCHMARK(BM_Mend3x500);

// Loopback server handing out generated messages.
struct gen_server {
	int lfd = -1, port = 0;
	std::atomic<long> served{0};
	std::atomic<bool> stop{false};
	long limit;
	std::thread th;
	explicit gen_server(long n) : limit(n)
	{
		lfd = loopback_listener(&port);
		th = std::thread([this] { run(); });
	}
	~gen_server()
	{
		stop = true;
		th.join();
		close(lfd);
	}
	void run()
	{
		while (!stop) {
			pollfd p{lfd, POLLIN, 0};
			if (poll(&p, 1, 50) <= 0)
				continue;
			int fd = accept(lfd, nullptr, nullptr);
			char buf[512];
			while (!stop) {
				pollfd q{fd, POLLIN, 0};
				if (poll(&q, 1, 50) <= 0)
					continue;
				if (recv(fd, buf, sizeof buf, 0) <= 0)
					break;
				std::string r = "GETMSG:\n";
				if (strncmp(buf, "GETMSG", 6) == 0 && served < limit) {
					long i = served++;
					r += std::to_string(i % 3 == 0 ? 490 : i % 3 == 1 ? 518 : 4209) + "\nZCZC\n" +
					     ident_of(static_cast<int>(i)) + "\n" + text_of(static_cast<int>(i)) +
					     "\nERROR:0.00\nSIGNAL:-80.00\nTIME:" + std::to_string(1700000000 + i) + "\n";
				} else if (strncmp(buf, "GETSTATUS", 9) == 0) {
					r = "GETSTATUS:\nFREQ:490,ST:IDLE,DBM:-120.00\n";
				}
				send(fd, r.data(), r.size(), MSG_NOSIGNAL);
			}
			close(fd);
		}
	}
};

long rss_kb(pid_t pid)
{
	std::ifstream f("/proc/" + std::to_string(pid) + "/status");
	for (std::string l; std::getline(f, l);)
		if (l.rfind("VmRSS:", 0) == 0)
			return atol(l.c_str() + 6);
	return -1;
}

void BM_ProgramIngest(benchmark::State &state)
{
	const long n = state.range(0);
	std::string dir = bench_dir();
	std::ofstream(dir + "/s.conf") << "[general]\nprinter-enabled=true\nalarm-sound-enabled=false\n";
	for (auto _ : state) {
		std::string db = dir + "/ingest.db";
		for (const char *sfx : {"", "-wal", "-shm"})
			unlink((db + sfx).c_str());
		unlink((dir + "/m.jsonl").c_str());
		gen_server srv(n);
		// A UDP sink and a TCP chart plotter that reads everything.
		int udp = socket(AF_INET, SOCK_DGRAM, 0);
		sockaddr_in a{};
		a.sin_family = AF_INET;
		a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
		bind(udp, reinterpret_cast<sockaddr *>(&a), sizeof a);
		socklen_t l = sizeof a;
		getsockname(udp, reinterpret_cast<sockaddr *>(&a), &l);
		int udp_port = ntohs(a.sin_port);
		int tcp_port = 20000 + getpid() % 20000;
		auto start = std::chrono::steady_clock::now();
		pid_t pid = fork();
		if (pid == 0) {
			int nul = open("/dev/null", O_WRONLY);
			dup2(nul, 2);
			execl(NAVWATCH_BIN, "navwatch", "-f", "-S", ("127.0.0.1:" + std::to_string(srv.port)).c_str(), "-c",
			      (dir + "/s.conf").c_str(), "-D", db.c_str(), "-J", (dir + "/m.jsonl").c_str(), "-N",
			      ("udp:127.0.0.1:" + std::to_string(udp_port)).c_str(), "-N",
			      ("tcp:" + std::to_string(tcp_port)).c_str(), "-P", "/dev/null", "-i", "20",
			      static_cast<char *>(nullptr));
			_exit(127);
		}
		std::atomic<bool> done{false};
		std::thread plotter([&] {
			int fd = -1;
			while (!done && fd < 0) {
				fd = socket(AF_INET, SOCK_STREAM, 0);
				sockaddr_in t{};
				t.sin_family = AF_INET;
				t.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
				t.sin_port = htons(static_cast<uint16_t>(tcp_port));
				if (connect(fd, reinterpret_cast<sockaddr *>(&t), sizeof t) != 0) {
					close(fd);
					fd = -1;
					std::this_thread::sleep_for(std::chrono::milliseconds(10));
				}
			}
			char buf[65536];
			while (!done) {
				pollfd p[2] = {{fd, POLLIN, 0}, {udp, POLLIN, 0}};
				if (poll(p, 2, 50) <= 0)
					continue;
				if (p[0].revents)
					recv(fd, buf, sizeof buf, 0);
				if (p[1].revents)
					recv(udp, buf, sizeof buf, 0);
			}
			close(fd);
		});
		long rss_early = -1;
		// Taken is not stored: wait for the JSON line of the last one.
		auto lines = [&] {
			std::ifstream f(dir + "/m.jsonl");
			long c = 0;
			for (std::string s; std::getline(f, s);)
				++c;
			return c;
		};
		while (srv.served < n || lines() < n) {
			if (rss_early < 0 && srv.served >= n / 10)
				rss_early = rss_kb(pid);
			std::this_thread::sleep_for(std::chrono::milliseconds(100));
		}
		double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
		long rss_late = rss_kb(pid);
		kill(pid, SIGTERM);
		int st;
		struct rusage ru {};
		wait4(pid, &st, 0, &ru);
		done = true;
		plotter.join();
		close(udp);
		state.SetIterationTime(secs);
		double cpu = static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
			     (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
		state.counters["msgs_per_s"] = static_cast<double>(n) / secs;
		state.counters["cpu_s_per_kmsg"] = cpu * 1000.0 / static_cast<double>(n);
		state.counters["rss_kb_at_10pct"] = static_cast<double>(rss_early);
		state.counters["rss_kb_at_end"] = static_cast<double>(rss_late);
	}
}
BENCHMARK(BM_ProgramIngest)->Arg(100000)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

} // namespace

BENCHMARK_MAIN();
