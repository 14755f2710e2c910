/*
 * I2C core and adapters.  Board-declared clients bind to new-style drivers
 * by driver name (the 2.6.25 rule); binding and unbinding happen under the
 * core lock, as the driver core does.  Transfers are serialised per machine,
 * recorded, take their bus time on the simulated clock and may fail by
 * fault injection.  I2C transfers sleep, so one from interrupt context is
 * a bug.
 */
#include <linux/kernel.h>
#include <linux/errno.h>
#include <linux/string.h>
#include <linux/hardirq.h>
#include <linux/i2c.h>
#include <pthread.h>
#include <stdio.h>
#include <hostkernel/hostkernel.h>
#include <hostkernel/i2c_sim.h>

#define MAX_ADAPTERS	8
#define MAX_CLIENTS	16
#define BUS_HZ		100000ull

static pthread_mutex_t core_lock = PTHREAD_MUTEX_INITIALIZER;
static pthread_mutex_t xfer_lock = PTHREAD_MUTEX_INITIALIZER;
static struct i2c_adapter *adapters[MAX_ADAPTERS];
static struct i2c_client *clients[MAX_CLIENTS];
static LIST_HEAD(drivers);

static struct hk_i2c_transfer *xlog;
static size_t xlog_len, xlog_cap;
static int fault_errno = -EIO;

static int is_newstyle(const struct i2c_driver *drv)
{
	return !drv->attach_adapter && !drv->detach_client;
}

/* core_lock held */
static void bind(struct i2c_client *client, struct i2c_driver *drv)
{
	int ret;

	client->driver = drv;
	client->dev.driver = &drv->driver;
	ret = drv->probe ? drv->probe(client) : -ENODEV;
	if (ret) {
		client->driver = NULL;
		client->dev.driver = NULL;
		if (ret != -ENODEV && ret != -ENXIO)
			printk(KERN_WARNING "%s: probe of %s failed with error %d\n",
			       drv->driver.name, client->dev.bus_id, ret);
	}
}

/* core_lock held */
static void unbind(struct i2c_client *client)
{
	struct i2c_driver *drv = client->driver;

	if (!drv)
		return;
	if (drv->remove)
		drv->remove(client);
	client->driver = NULL;
	client->dev.driver = NULL;
}

/* core_lock held */
static void try_bind(struct i2c_client *client)
{
	struct i2c_driver *drv;

	if (client->driver)
		return;
	list_for_each_entry(drv, &drivers, list) {
		if (is_newstyle(drv) && drv->driver.name &&
		    strcmp(client->driver_name, drv->driver.name) == 0) {
			bind(client, drv);
			return;
		}
	}
}

int i2c_register_driver(struct module *owner, struct i2c_driver *drv)
{
	int i;

	if (hk_fault_hit("i2c_add_driver"))
		return -ENOMEM;
	pthread_mutex_lock(&core_lock);
	drv->driver.owner = owner;
	list_add_tail(&drv->list, &drivers);
	for (i = 0; i < MAX_CLIENTS; i++)
		if (clients[i])
			try_bind(clients[i]);
	pthread_mutex_unlock(&core_lock);
	return 0;
}

void i2c_del_driver(struct i2c_driver *drv)
{
	int i;

	pthread_mutex_lock(&core_lock);
	for (i = 0; i < MAX_CLIENTS; i++)
		if (clients[i] && clients[i]->driver == drv)
			unbind(clients[i]);
	list_del(&drv->list);
	pthread_mutex_unlock(&core_lock);
}

static s32 transfer(struct i2c_client *client, int kind, u8 command, u16 data)
{
	struct hk_i2c_transfer x;
	s32 ret = 0;

	if (in_interrupt())
		hk_bug(__FILE__, __LINE__, "I2C transfer in interrupt context");
	BUG_ON(!client || !client->adapter);

	pthread_mutex_lock(&xfer_lock);
	if (hk_fault_hit("i2c_xfer"))
		ret = fault_errno;
	x.bus = client->adapter->nr;
	x.addr = client->addr;
	x.kind = kind;
	x.command = command;
	x.data = data;
	x.result = ret;
	x.time_ns = hk_clock_ns();
	if (xlog_len == xlog_cap) {
		size_t cap = xlog_cap ? 2 * xlog_cap : 256;
		struct hk_i2c_transfer *n = realloc(xlog, cap * sizeof(*n));

		if (!n)
			hk_bug(__FILE__, __LINE__, "out of host memory for the I2C log");
		xlog = n;
		xlog_cap = cap;
	}
	xlog[xlog_len++] = x;
	pthread_mutex_unlock(&xfer_lock);

	hk_clock_advance(hk_i2c_transfer_ns(kind));
	return ret;
}

s32 i2c_smbus_write_byte_data(struct i2c_client *client, u8 command, u8 value)
{
	return transfer(client, HK_I2C_WRITE_BYTE_DATA, command, value);
}

s32 i2c_smbus_write_word_data(struct i2c_client *client, u8 command, u16 value)
{
	return transfer(client, HK_I2C_WRITE_WORD_DATA, command, value);
}

uint64_t hk_i2c_transfer_ns(int kind)
{
	/* start + (address, command, data bytes) x 9 clocks + stop */
	unsigned int bytes = kind == HK_I2C_WRITE_WORD_DATA ? 4 : 3;

	return (2 + 9ull * bytes) * 1000000000ull / BUS_HZ;
}

struct i2c_adapter *hk_i2c_add_adapter(int nr, const char *name, unsigned int id)
{
	struct i2c_adapter *adap;
	int i, slot = -1;

	pthread_mutex_lock(&core_lock);
	for (i = 0; i < MAX_ADAPTERS; i++) {
		if (adapters[i] && adapters[i]->nr == nr)
			hk_bug(__FILE__, __LINE__, "I2C bus number already taken");
		if (!adapters[i] && slot < 0)
			slot = i;
	}
	if (slot < 0)
		hk_bug(__FILE__, __LINE__, "too many I2C adapters");
	adap = calloc(1, sizeof(*adap));
	if (!adap)
		hk_bug(__FILE__, __LINE__, "out of host memory");
	adap->nr = nr;
	adap->id = id;
	snprintf(adap->name, sizeof(adap->name), "%s", name);
	snprintf(adap->dev.bus_id, sizeof(adap->dev.bus_id), "i2c-%d", nr);
	adapters[slot] = adap;
	pthread_mutex_unlock(&core_lock);
	return adap;
}

/* core_lock held */
static void del_client_locked(struct i2c_client *client)
{
	int i;

	for (i = 0; i < MAX_CLIENTS; i++) {
		if (clients[i] == client) {
			unbind(client);
			clients[i] = NULL;
			free(client);
			return;
		}
	}
	hk_bug(__FILE__, __LINE__, "removing an unknown I2C client");
}

void hk_i2c_del_adapter(int nr)
{
	int i;

	pthread_mutex_lock(&core_lock);
	for (i = 0; i < MAX_CLIENTS; i++)
		if (clients[i] && clients[i]->adapter->nr == nr)
			del_client_locked(clients[i]);
	for (i = 0; i < MAX_ADAPTERS; i++) {
		if (adapters[i] && adapters[i]->nr == nr) {
			free(adapters[i]);
			adapters[i] = NULL;
		}
	}
	pthread_mutex_unlock(&core_lock);
}

struct i2c_client *hk_i2c_new_client(int nr, const char *driver_name, unsigned short addr)
{
	struct i2c_adapter *adap = NULL;
	struct i2c_client *client;
	int i, slot = -1;

	pthread_mutex_lock(&core_lock);
	for (i = 0; i < MAX_ADAPTERS; i++)
		if (adapters[i] && adapters[i]->nr == nr)
			adap = adapters[i];
	for (i = 0; i < MAX_CLIENTS && slot < 0; i++)
		if (!clients[i])
			slot = i;
	if (!adap || slot < 0)
		hk_bug(__FILE__, __LINE__, "no such I2C bus, or too many clients");
	client = calloc(1, sizeof(*client));
	if (!client)
		hk_bug(__FILE__, __LINE__, "out of host memory");
	client->addr = addr;
	client->adapter = adap;
	snprintf(client->name, sizeof(client->name), "%s", driver_name);
	snprintf(client->driver_name, sizeof(client->driver_name), "%s", driver_name);
	snprintf(client->dev.bus_id, sizeof(client->dev.bus_id), "%d-%04x", nr, addr);
	client->dev.parent = &adap->dev;
	clients[slot] = client;
	try_bind(client);
	pthread_mutex_unlock(&core_lock);
	return client;
}

void hk_i2c_del_client(struct i2c_client *client)
{
	pthread_mutex_lock(&core_lock);
	del_client_locked(client);
	pthread_mutex_unlock(&core_lock);
}

int hk_i2c_client_bound(const struct i2c_client *client)
{
	int bound;

	pthread_mutex_lock(&core_lock);
	bound = client->driver != NULL;
	pthread_mutex_unlock(&core_lock);
	return bound;
}

void hk_i2c_reset(void)
{
	int i;

	pthread_mutex_lock(&core_lock);
	for (i = 0; i < MAX_CLIENTS; i++)
		if (clients[i])
			del_client_locked(clients[i]);
	for (i = 0; i < MAX_ADAPTERS; i++) {
		free(adapters[i]);
		adapters[i] = NULL;
	}
	pthread_mutex_unlock(&core_lock);
	hk_i2c_log_clear();
	hk_i2c_set_fault_errno(-EIO);
}

size_t hk_i2c_transfer_count(void)
{
	size_t n;

	pthread_mutex_lock(&xfer_lock);
	n = xlog_len;
	pthread_mutex_unlock(&xfer_lock);
	return n;
}

int hk_i2c_transfer_get(size_t i, struct hk_i2c_transfer *out)
{
	int ret = -1;

	pthread_mutex_lock(&xfer_lock);
	if (i < xlog_len) {
		*out = xlog[i];
		ret = 0;
	}
	pthread_mutex_unlock(&xfer_lock);
	return ret;
}

void hk_i2c_log_clear(void)
{
	pthread_mutex_lock(&xfer_lock);
	xlog_len = 0;
	pthread_mutex_unlock(&xfer_lock);
}

void hk_i2c_set_fault_errno(int err)
{
	pthread_mutex_lock(&xfer_lock);
	fault_errno = err;
	pthread_mutex_unlock(&xfer_lock);
}
