/*
 * SPI core and controllers.  Devices bind to drivers by name under the core
 * lock.  Each bus's controller keeps submitted messages in a FIFO until the
 * test completes them: the transfers run through the device's responder,
 * then the completion function runs in interrupt context, as a controller
 * driver's interrupt handler would call it.
 */
#include <linux/kernel.h>
#include <linux/errno.h>
#include <linux/string.h>
#include <linux/spi/spi.h>
#include <pthread.h>
#include <stdio.h>
#include <hostkernel/hostkernel.h>
#include <hostkernel/spi_sim.h>
#include "hk_internal.h"

#define MAX_BUSES	4
#define MAX_DEVICES	8

struct bus_type spi_bus_type = { .name = "spi" };

struct sim_device {
	struct spi_device spi;
	int set_up;
	hk_spi_responder respond;
	void *ctx;
};

struct sim_bus {
	struct spi_master master;
	struct list_head queue;
	int used;
};

static pthread_mutex_t core_lock = PTHREAD_MUTEX_INITIALIZER;
static pthread_mutex_t queue_lock = PTHREAD_MUTEX_INITIALIZER;
static struct sim_bus buses[MAX_BUSES];
static struct sim_device *devices[MAX_DEVICES];
static LIST_HEAD(drivers);
static long submitted, completed, violations;

struct driver_entry {
	struct list_head list;
	struct spi_driver *drv;
};

static struct sim_device *to_sim(const struct spi_device *spi)
{
	return container_of(spi, struct sim_device, spi);
}

static struct spi_driver *bound_driver(struct spi_device *spi)
{
	struct driver_entry *e;

	if (!spi->dev.driver)
		return NULL;
	list_for_each_entry(e, &drivers, list)
		if (&e->drv->driver == spi->dev.driver)
			return e->drv;
	return NULL;
}

/* core_lock held */
static void bind(struct spi_device *spi, struct spi_driver *drv)
{
	int ret;

	spi->dev.driver = &drv->driver;
	ret = drv->probe ? drv->probe(spi) : -ENODEV;
	if (ret) {
		spi->dev.driver = NULL;
		if (ret != -ENODEV && ret != -ENXIO)
			printk(KERN_WARNING "%s: probe of %s failed with error %d\n",
			       drv->driver.name, spi->dev.bus_id, ret);
	}
}

/* core_lock held */
static void unbind(struct spi_device *spi)
{
	struct spi_driver *drv = bound_driver(spi);

	if (!drv)
		return;
	if (drv->remove)
		drv->remove(spi);
	spi->dev.driver = NULL;
}

/* core_lock held */
static void try_bind(struct spi_device *spi)
{
	struct driver_entry *e;

	if (spi->dev.driver)
		return;
	list_for_each_entry(e, &drivers, list) {
		if (e->drv->driver.name && strcmp(spi->modalias, e->drv->driver.name) == 0) {
			bind(spi, e->drv);
			return;
		}
	}
}

int spi_register_driver(struct spi_driver *drv)
{
	struct driver_entry *e;
	int i;

	if (hk_fault_hit("spi_register_driver"))
		return -ENOMEM;
	e = calloc(1, sizeof(*e));
	if (!e)
		return -ENOMEM;
	e->drv = drv;
	drv->driver.bus = &spi_bus_type;
	pthread_mutex_lock(&core_lock);
	list_add_tail(&e->list, &drivers);
	for (i = 0; i < MAX_DEVICES; i++)
		if (devices[i])
			try_bind(&devices[i]->spi);
	pthread_mutex_unlock(&core_lock);
	return 0;
}

void spi_unregister_driver(struct spi_driver *drv)
{
	struct driver_entry *e, *n;
	int i;

	pthread_mutex_lock(&core_lock);
	for (i = 0; i < MAX_DEVICES; i++)
		if (devices[i] && devices[i]->spi.dev.driver == &drv->driver)
			unbind(&devices[i]->spi);
	list_for_each_entry_safe(e, n, &drivers, list) {
		if (e->drv == drv) {
			list_del(&e->list);
			free(e);
		}
	}
	pthread_mutex_unlock(&core_lock);
}

int spi_setup(struct spi_device *spi)
{
	const u8 known = SPI_CPHA | SPI_CPOL | SPI_CS_HIGH | SPI_LSB_FIRST |
			 SPI_3WIRE | SPI_LOOP;

	if (hk_fault_hit("spi_setup"))
		return -EINVAL;
	if (!spi->bits_per_word)
		spi->bits_per_word = 8;
	if (spi->bits_per_word > 16 || (spi->mode & ~known))
		return -EINVAL;
	to_sim(spi)->set_up = 1;
	return 0;
}

/* queue_lock held */
static int held(struct sim_bus *bus, struct spi_message *m)
{
	struct spi_message *q;

	list_for_each_entry(q, &bus->queue, queue)
		if (q == m)
			return 1;
	return 0;
}

int spi_async(struct spi_device *spi, struct spi_message *m)
{
	struct sim_bus *bus = container_of(spi->master, struct sim_bus, master);

	if (hk_fault_hit("spi_async"))
		return -EIO;
	pthread_mutex_lock(&queue_lock);
	if (held(bus, m)) {
		violations++;
		pthread_mutex_unlock(&queue_lock);
		printk(KERN_ERR "spi: message submitted again while held\n");
		return -EBUSY;
	}
	if (list_empty(&m->transfers) || !spi->dev.driver) {
		violations++;
		pthread_mutex_unlock(&queue_lock);
		return -EINVAL;
	}
	m->spi = spi;
	m->status = -EINPROGRESS;
	m->actual_length = 0;
	list_add_tail(&m->queue, &bus->queue);
	submitted++;
	pthread_mutex_unlock(&queue_lock);
	return 0;
}

static void run_transfers(struct spi_message *m)
{
	struct sim_device *d = to_sim(m->spi);
	struct spi_transfer *t;

	list_for_each_entry(t, &m->transfers, transfer_list) {
		unsigned char *tx = NULL, *rx = NULL;

		if (!t->tx_buf)
			tx = calloc(1, t->len + 1);
		if (!t->rx_buf)
			rx = calloc(1, t->len + 1);
		if ((!t->tx_buf && !tx) || (!t->rx_buf && !rx))
			hk_bug(__FILE__, __LINE__, "out of host memory");
		if (d->respond)
			d->respond(d->ctx, tx ? tx : t->tx_buf,
				   rx ? rx : t->rx_buf, t->len);
		else
			memset(rx ? rx : t->rx_buf, 0, t->len);
		m->actual_length += t->len;
		free(tx);
		free(rx);
	}
}

int hk_spi_complete(int busnr, int n, int status)
{
	int done = 0;

	while (n < 0 || done < n) {
		struct spi_message *m = NULL;
		int i;

		pthread_mutex_lock(&queue_lock);
		for (i = 0; i < MAX_BUSES && !m; i++) {
			struct sim_bus *bus = &buses[i];

			if (!bus->used || (busnr >= 0 && bus->master.bus_num != busnr))
				continue;
			if (!list_empty(&bus->queue)) {
				m = list_first_entry(&bus->queue, struct spi_message, queue);
				list_del_init(&m->queue);
			}
		}
		pthread_mutex_unlock(&queue_lock);
		if (!m)
			break;
		if (!status)
			run_transfers(m);
		m->status = status;
		if (!hk_cpu_irq_enter())
			hk_bug(__FILE__, __LINE__, "SPI completion with interrupts disabled");
		if (m->complete)
			m->complete(m->context);
		hk_cpu_irq_exit();
		pthread_mutex_lock(&queue_lock);
		completed++;
		pthread_mutex_unlock(&queue_lock);
		done++;
	}
	return done;
}

int hk_spi_queued(int busnr)
{
	struct list_head *p;
	int i, n = 0;

	pthread_mutex_lock(&queue_lock);
	for (i = 0; i < MAX_BUSES; i++) {
		if (!buses[i].used || (busnr >= 0 && buses[i].master.bus_num != busnr))
			continue;
		list_for_each(p, &buses[i].queue)
			n++;
	}
	pthread_mutex_unlock(&queue_lock);
	return n;
}

static long counter(long *c)
{
	long v;

	pthread_mutex_lock(&queue_lock);
	v = *c;
	pthread_mutex_unlock(&queue_lock);
	return v;
}

long hk_spi_submitted(void)
{
	return counter(&submitted);
}

long hk_spi_completed(void)
{
	return counter(&completed);
}

long hk_spi_violations(void)
{
	return counter(&violations);
}

/* core_lock held */
static struct sim_bus *bus_get(int nr)
{
	int i, slot = -1;

	for (i = 0; i < MAX_BUSES; i++) {
		if (buses[i].used && buses[i].master.bus_num == nr)
			return &buses[i];
		if (!buses[i].used && slot < 0)
			slot = i;
	}
	if (slot < 0)
		hk_bug(__FILE__, __LINE__, "too many SPI buses");
	memset(&buses[slot], 0, sizeof(buses[slot]));
	buses[slot].used = 1;
	buses[slot].master.bus_num = nr;
	buses[slot].master.num_chipselect = 4;
	snprintf(buses[slot].master.dev.bus_id, sizeof(buses[slot].master.dev.bus_id),
		 "spi%d", nr);
	INIT_LIST_HEAD(&buses[slot].queue);
	return &buses[slot];
}

struct spi_device *hk_spi_new_device(int busnr, int cs, const char *modalias,
				     unsigned int max_speed_hz)
{
	struct sim_device *d;
	struct sim_bus *bus;
	int i, slot = -1;

	pthread_mutex_lock(&core_lock);
	for (i = 0; i < MAX_DEVICES && slot < 0; i++)
		if (!devices[i])
			slot = i;
	if (slot < 0)
		hk_bug(__FILE__, __LINE__, "too many SPI devices");
	pthread_mutex_lock(&queue_lock);
	bus = bus_get(busnr);
	pthread_mutex_unlock(&queue_lock);
	d = calloc(1, sizeof(*d));
	if (!d)
		hk_bug(__FILE__, __LINE__, "out of host memory");
	d->spi.master = &bus->master;
	d->spi.chip_select = (u8)cs;
	d->spi.max_speed_hz = max_speed_hz;
	d->spi.modalias = modalias;
	d->spi.dev.parent = &bus->master.dev;
	d->spi.dev.bus = &spi_bus_type;
	snprintf(d->spi.dev.bus_id, sizeof(d->spi.dev.bus_id), "spi%d.%d", busnr, cs);
	devices[slot] = d;
	try_bind(&d->spi);
	pthread_mutex_unlock(&core_lock);
	return &d->spi;
}

void hk_spi_del_device(struct spi_device *spi)
{
	struct sim_device *d = to_sim(spi);
	int i;

	pthread_mutex_lock(&core_lock);
	for (i = 0; i < MAX_DEVICES; i++) {
		if (devices[i] == d) {
			unbind(spi);
			devices[i] = NULL;
		}
	}
	pthread_mutex_unlock(&core_lock);
	pthread_mutex_lock(&queue_lock);
	for (i = 0; i < MAX_BUSES; i++) {
		struct spi_message *m;

		if (!buses[i].used)
			continue;
		list_for_each_entry(m, &buses[i].queue, queue)
			if (m->spi == spi)
				hk_bug(__FILE__, __LINE__, "SPI device removed with messages queued");
	}
	pthread_mutex_unlock(&queue_lock);
	free(d);
}

int hk_spi_device_bound(const struct spi_device *spi)
{
	int bound;

	pthread_mutex_lock(&core_lock);
	bound = spi->dev.driver != NULL;
	pthread_mutex_unlock(&core_lock);
	return bound;
}

const char *hk_spi_device_bus_id(const struct spi_device *spi)
{
	return spi->dev.bus_id;
}

int hk_spi_device_mode(const struct spi_device *spi)
{
	return to_sim(spi)->set_up ? spi->mode : -1;
}

int hk_spi_device_bits(const struct spi_device *spi)
{
	return to_sim(spi)->set_up ? spi->bits_per_word : -1;
}

void hk_spi_set_responder(struct spi_device *spi, hk_spi_responder fn, void *ctx)
{
	struct sim_device *d = to_sim(spi);

	pthread_mutex_lock(&queue_lock);
	d->respond = fn;
	d->ctx = ctx;
	pthread_mutex_unlock(&queue_lock);
}
