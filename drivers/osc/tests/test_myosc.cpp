// Host tests of clkgendrv: the register writes a binding sends over I2C
// (order, encoding, per-bus table, pacing), failures on the bus, and the
// console lines of load, probe and unload.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <hostkernel/hostkernel.h>
#include <hostkernel/i2c_sim.h>

namespace {

using Write = std::pair<int, int>;  // register, value
using Writes = std::vector<Write>;

constexpr const char *kModule = "clkgendrv";
constexpr unsigned short kAddr = 0x6A;

void put(Writes &w, int reg, int val) { w.emplace_back(reg, val); }

void fill(Writes &w, int first, int last, int val)
{
	for (int r = first; r <= last; ++r)
		w.emplace_back(r, val);
}

// The chip's reset table, written out from the register map of the design.
Writes default_table()
{
	Writes w;
	put(w, 0x04, 0x00);
	put(w, 0x05, 0xFF);
	put(w, 0x06, 0x20);
	fill(w, 0x07, 0x1C, 0x00);
	put(w, 0x1D, 0x40);
	fill(w, 0x1E, 0x2F, 0x00);
	put(w, 0x20, 0x00);
	fill(w, 0x31, 0x33, 0x00);
	put(w, 0x34, 0x46);
	put(w, 0x35, 0x55);
	fill(w, 0x38, 0x4C, 0x00);
	put(w, 0x4D, 0xBB);
	fill(w, 0x4E, 0x53, 0x00);
	put(w, 0x54, 0x0C);
	put(w, 0x55, 0xBB);
	fill(w, 0x56, 0x57, 0x00);
	put(w, 0x48, 0x0C);
	put(w, 0x49, 0x0B);
	fill(w, 0x4A, 0x4B, 0x00);
	put(w, 0x5C, 0x03);
	put(w, 0x5D, 0xBB);
	fill(w, 0x5E, 0x63, 0x00);
	put(w, 0x64, 0x0C);
	put(w, 0x65, 0xBB);
	fill(w, 0x66, 0x6B, 0x00);
	put(w, 0x6C, 0x0C);
	put(w, 0x6D, 0xBB);
	fill(w, 0x6E, 0x6F, 0x00);
	return w;
}

Writes common_table()
{
	Writes w;
	put(w, 0x05, 0xC0);
	put(w, 0x06, 0x30);
	fill(w, 0x07, 0x0F, 0x00);
	fill(w, 0x20, 0x27, 0x00);
	put(w, 0x34, 0x40);
	put(w, 0x35, 0x02);
	fill(w, 0x1C, 0x1E, 0x00);
	return w;
}

Writes bus_table(int bus)
{
	Writes w;
	fill(w, 0x10, 0x13, bus == 0 ? 0x25 : 0x1E);
	fill(w, 0x14, 0x17, 0x4B);
	fill(w, 0x18, 0x1B, 0x13);
	fill(w, 0x28, 0x2B, bus == 0 ? 0x2E : 0x28);
	fill(w, 0x2C, 0x2F, 0x4D);
	fill(w, 0x30, 0x33, 0x25);
	put(w, 0x4C, 0x30);
	put(w, 0x4D, 0x0F);
	put(w, 0x4E, 0x11);
	put(w, 0x50, 0x30);
	put(w, 0x51, 0x07);
	put(w, 0x52, 0x15);
	return w;
}

Writes concat(std::initializer_list<Writes> parts)
{
	Writes all;
	for (const Writes &p : parts)
		all.insert(all.end(), p.begin(), p.end());
	return all;
}

std::vector<hk_i2c_transfer> transfers()
{
	std::vector<hk_i2c_transfer> v(hk_i2c_transfer_count());
	for (size_t i = 0; i < v.size(); ++i)
		EXPECT_EQ(hk_i2c_transfer_get(i, &v[i]), 0);
	return v;
}

// What reached the chip: (register, value) of each successful transfer,
// decoded as the chip sees the bytes: command, then low byte, high byte.
Writes delivered(int bus = -1)
{
	Writes w;
	for (const hk_i2c_transfer &x : transfers()) {
		if (x.result != 0 || (bus >= 0 && x.bus != bus))
			continue;
		w.emplace_back(x.data & 0xFF, x.data >> 8);
	}
	return w;
}

std::string console() { return hk_printk_text(); }

std::string probe_lines(const char *adapter, int nr, int id, int r1, int r2, int r3)
{
	char buf[256];
	std::snprintf(buf, sizeof(buf),
		      "<6>myosc probing\n"
		      "<6>myosc: adapter name: %s, nr: %d, id: %d\n"
		      "<6>myosc i2c write returned %d\n"
		      "<6>myosc i2c write returned %d\n"
		      "<6>myosc i2c write returned %d\n",
		      adapter, nr, id, r1, r2, r3);
	return buf;
}

class Oscillator : public ::testing::Test {
protected:
	void SetUp() override
	{
		hk_fault_clear();
		hk_i2c_reset();
		hk_delay_reset();
		hk_printk_clear();
	}

	void TearDown() override
	{
		if (hk_module_loaded(kModule)) {
			EXPECT_EQ(hk_module_unload(kModule), 0);
		}
		hk_i2c_reset();
		hk_fault_clear();
	}

	// Board code: one bus with the clock chip on it.
	i2c_client *board(int nr, const char *adapter = "at91_i2c", unsigned id = 0x1F)
	{
		hk_i2c_add_adapter(nr, adapter, id);
		return hk_i2c_new_client(nr, "osc-idt5v9885", kAddr);
	}
};

TEST_F(Oscillator, TablesHaveTheirDocumentedLengths)
{
	// Guards the expected tables themselves against slips in this file.
	EXPECT_EQ(default_table().size(), 106u);
	EXPECT_EQ(common_table().size(), 24u);
	EXPECT_EQ(bus_table(0).size(), 30u);
	EXPECT_EQ(bus_table(1).size(), 30u);
}

TEST_F(Oscillator, BusZeroGetsAllThreeTablesInOrder)
{
	board(0, "at91_i2c", 0x1F);
	ASSERT_EQ(hk_module_load(kModule, ""), 0);

	const Writes expect = concat({default_table(), common_table(), bus_table(0)});
	EXPECT_EQ(delivered(), expect);
	ASSERT_EQ(hk_i2c_transfer_count(), 160u);
	for (const hk_i2c_transfer &x : transfers()) {
		EXPECT_EQ(x.bus, 0);
		EXPECT_EQ(x.addr, kAddr);
		EXPECT_EQ(x.kind, HK_I2C_WRITE_WORD_DATA);
		EXPECT_EQ(x.command, 0x00);
		EXPECT_EQ(x.result, 0);
	}
	EXPECT_EQ(delivered().back(), Write(0x52, 0x15));
	EXPECT_EQ(console(), "myosc init\n" + probe_lines("at91_i2c", 0, 0x1F, 106, 24, 30));
}

TEST_F(Oscillator, BusOneDiffersOnlyInItsDividers)
{
	board(1, "i2c-gpio", 3);
	ASSERT_EQ(hk_module_load(kModule, ""), 0);

	const Writes got = delivered();
	const Writes bus0 = concat({default_table(), common_table(), bus_table(0)});
	ASSERT_EQ(got.size(), bus0.size());
	int differences = 0;
	for (size_t i = 0; i < got.size(); ++i) {
		EXPECT_EQ(got[i].first, bus0[i].first) << "write " << i;
		if (got[i] == bus0[i])
			continue;
		++differences;
		ASSERT_GE(i, 130u) << "only the last table differs";
		const int reg = got[i].first;
		if (reg >= 0x10 && reg <= 0x13) {
			EXPECT_EQ(got[i].second, 0x1E);
		} else if (reg >= 0x28 && reg <= 0x2B) {
			EXPECT_EQ(got[i].second, 0x28);
		} else {
			ADD_FAILURE() << "register " << reg << " differs";
		}
	}
	EXPECT_EQ(differences, 8);
	EXPECT_EQ(console(), "myosc init\n" + probe_lines("i2c-gpio", 1, 3, 106, 24, 30));
}

TEST_F(Oscillator, OtherBusesGetNoFrequencyTable)
{
	board(2, "third", 9);
	ASSERT_EQ(hk_module_load(kModule, ""), 0);

	EXPECT_EQ(delivered(), concat({default_table(), common_table()}));
	// The third result line repeats the common table's count.
	EXPECT_EQ(console(), "myosc init\n" + probe_lines("third", 2, 9, 106, 24, 24));
}

TEST_F(Oscillator, DefaultTableLeavesKnownRegisterState)
{
	board(0);
	ASSERT_EQ(hk_module_load(kModule, ""), 0);

	const Writes all = delivered();
	std::map<int, int> reg;
	std::map<int, int> times;
	for (size_t i = 0; i < 106; ++i) {
		reg[all[i].first] = all[i].second;
		++times[all[i].first];
	}
	EXPECT_EQ(reg.at(0x48), 0x0C);
	EXPECT_EQ(reg.at(0x49), 0x0B);
	EXPECT_EQ(times[0x48], 2);
	EXPECT_EQ(times[0x20], 2);
	EXPECT_EQ(reg.at(0x20), 0x00);
	for (int untouched : {0x30, 0x36, 0x37, 0x58, 0x59, 0x5A, 0x5B})
		EXPECT_EQ(reg.count(untouched), 0u) << untouched;
}

TEST_F(Oscillator, EachWriteIsFollowedByAHundredMicrosecondWait)
{
	board(0);
	const uint64_t bus_ns = hk_i2c_transfer_ns(HK_I2C_WRITE_WORD_DATA);
	ASSERT_EQ(hk_module_load(kModule, ""), 0);

	const auto x = transfers();
	ASSERT_EQ(x.size(), 160u);
	for (size_t i = 1; i < x.size(); ++i)
		ASSERT_EQ(x[i].time_ns - x[i - 1].time_ns, bus_ns + 100000u) << i;
	EXPECT_EQ(hk_delay_calls(), 160);
	EXPECT_EQ(hk_delay_total_ns(), 160u * 100000u);
}

TEST_F(Oscillator, FailedFifthWriteEndsOnlyTheFirstTable)
{
	i2c_client *client = board(0);
	hk_fault_inject("i2c_xfer", 5, 1);
	ASSERT_EQ(hk_module_load(kModule, ""), 0);

	const auto x = transfers();
	// Four writes, the failed fifth, then the next two tables complete.
	ASSERT_EQ(x.size(), 5u + 24u + 30u);
	EXPECT_EQ(x[4].result, -EIO);
	EXPECT_EQ(x[4].data & 0xFF, 0x08);
	const Writes def = default_table();
	EXPECT_EQ(delivered(), concat({Writes(def.begin(), def.begin() + 4),
				       common_table(), bus_table(0)}));
	// No wait after the failed write.
	const uint64_t bus_ns = hk_i2c_transfer_ns(HK_I2C_WRITE_WORD_DATA);
	EXPECT_EQ(x[5].time_ns - x[4].time_ns, bus_ns);
	EXPECT_EQ(hk_delay_calls(), 4 + 24 + 30);

	EXPECT_EQ(console(), "myosc init\n" + probe_lines("at91_i2c", 0, 0x1F, -5, 24, 30));
	// The binding still succeeds.
	EXPECT_TRUE(hk_i2c_client_bound(client));
}

TEST_F(Oscillator, FailureInTheCommonTableShowsItsOwnError)
{
	i2c_client *client = board(1);
	hk_i2c_set_fault_errno(-ENXIO);
	hk_fault_inject("i2c_xfer", 106 + 1, 1);	// first write of the common table
	ASSERT_EQ(hk_module_load(kModule, ""), 0);

	EXPECT_TRUE(hk_i2c_client_bound(client));
	EXPECT_EQ(console(), "myosc init\n" +
		  probe_lines("at91_i2c", 1, 0x1F, 106, -ENXIO, 30));
	EXPECT_EQ(delivered(), concat({default_table(), bus_table(1)}));
}

TEST_F(Oscillator, FailureOnAnUnknownBusIsRepeatedInTheLastLine)
{
	board(3);
	hk_fault_inject("i2c_xfer", 106 + 24, 1);	// last write of the common table
	ASSERT_EQ(hk_module_load(kModule, ""), 0);
	EXPECT_EQ(console(), "myosc init\n" + probe_lines("at91_i2c", 3, 0x1F, 106, -5, -5));
	EXPECT_EQ(hk_i2c_transfer_count(), 130u);
}

TEST_F(Oscillator, UnloadPrintsAndLeavesTheChipAlone)
{
	i2c_client *client = board(0);
	ASSERT_EQ(hk_module_load(kModule, ""), 0);
	ASSERT_TRUE(hk_i2c_client_bound(client));
	hk_i2c_log_clear();
	hk_printk_clear();

	ASSERT_EQ(hk_module_unload(kModule), 0);
	EXPECT_EQ(console(), "myosc exit\n");
	EXPECT_EQ(hk_i2c_transfer_count(), 0u);
	EXPECT_FALSE(hk_i2c_client_bound(client));
	EXPECT_EQ(hk_res_live_total(), 0);

	// Loading again programs the chip from scratch.
	ASSERT_EQ(hk_module_load(kModule, ""), 0);
	EXPECT_EQ(delivered(), concat({default_table(), common_table(), bus_table(0)}));
}

TEST_F(Oscillator, BindsOnlyToItsOwnClients)
{
	hk_i2c_add_adapter(0, "at91_i2c", 1);
	hk_i2c_new_client(0, "rtc-other", 0x32);
	ASSERT_EQ(hk_module_load(kModule, ""), 0);
	EXPECT_EQ(console(), "myosc init\n");
	EXPECT_EQ(hk_i2c_transfer_count(), 0u);

	// A chip declared later is programmed when it appears.
	i2c_client *late = hk_i2c_new_client(0, "osc-idt5v9885", kAddr);
	EXPECT_TRUE(hk_i2c_client_bound(late));
	EXPECT_EQ(delivered(), concat({default_table(), common_table(), bus_table(0)}));
}

TEST_F(Oscillator, EachChipGetsItsBusTable)
{
	board(0);
	hk_i2c_add_adapter(1, "second", 2);
	hk_i2c_new_client(1, "osc-idt5v9885", kAddr);
	ASSERT_EQ(hk_module_load(kModule, ""), 0);

	EXPECT_EQ(delivered(0), concat({default_table(), common_table(), bus_table(0)}));
	EXPECT_EQ(delivered(1), concat({default_table(), common_table(), bus_table(1)}));
}

TEST_F(Oscillator, RegistrationFailureFailsTheLoad)
{
	board(0);
	hk_fault_inject("i2c_add_driver", 1, 1);
	EXPECT_EQ(hk_module_load(kModule, ""), -ENOMEM);
	EXPECT_FALSE(hk_module_loaded(kModule));
	EXPECT_EQ(console(), "myosc init\n");
	EXPECT_EQ(hk_i2c_transfer_count(), 0u);
}

TEST_F(Oscillator, ModuleInformation)
{
	EXPECT_STREQ(hk_module_info(kModule, "license"), "GPL");
	EXPECT_STREQ(hk_module_info(kModule, "description"),
		     "Oscillator driver for IDT5V9889 chips");
}

}  // namespace
