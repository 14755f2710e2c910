#ifndef __KERNEL__
#include_next <linux/spi/spi.h>
#else
#ifndef _HK_LINUX_SPI_H
#define _HK_LINUX_SPI_H
/*
 * SPI core as a 2.6.25 protocol driver sees it: devices declared by the
 * board code and bound by name, set-up, and asynchronous messages made of
 * transfers whose completion function runs when the controller is done.
 * The host simulation (hostkernel/spi_sim.h) queues submitted messages per
 * bus and completes them on demand, answering through a device model.
 */
#include <linux/types.h>
#include <linux/list.h>
#include <linux/device.h>
#include <linux/module.h>
#include <linux/string.h>

extern struct bus_type spi_bus_type;

struct spi_message;
struct spi_device;

struct spi_master {
	struct device dev;
	s16 bus_num;
	u16 num_chipselect;
	int (*setup)(struct spi_device *spi);
	int (*transfer)(struct spi_device *spi, struct spi_message *mesg);
	void (*cleanup)(struct spi_device *spi);
};

struct spi_device {
	struct device dev;
	struct spi_master *master;
	u32 max_speed_hz;
	u8 chip_select;
	u8 mode;
#define SPI_CPHA	0x01
#define SPI_CPOL	0x02
#define SPI_MODE_0	(0 | 0)
#define SPI_MODE_1	(0 | SPI_CPHA)
#define SPI_MODE_2	(SPI_CPOL | 0)
#define SPI_MODE_3	(SPI_CPOL | SPI_CPHA)
#define SPI_CS_HIGH	0x04
#define SPI_LSB_FIRST	0x08
#define SPI_3WIRE	0x10
#define SPI_LOOP	0x20
	u8 bits_per_word;
	int irq;
	void *controller_state;
	void *controller_data;
	const char *modalias;
};

static inline struct spi_device *to_spi_device(struct device *dev)
{
	return dev ? container_of(dev, struct spi_device, dev) : NULL;
}

static inline void spi_set_drvdata(struct spi_device *spi, void *data)
{
	dev_set_drvdata(&spi->dev, data);
}

static inline void *spi_get_drvdata(struct spi_device *spi)
{
	return dev_get_drvdata(&spi->dev);
}

struct spi_driver {
	int (*probe)(struct spi_device *spi);
	int (*remove)(struct spi_device *spi);
	void (*shutdown)(struct spi_device *spi);
	struct device_driver driver;
};

int spi_register_driver(struct spi_driver *sdrv);
void spi_unregister_driver(struct spi_driver *sdrv);

struct spi_transfer {
	const void *tx_buf;
	void *rx_buf;
	unsigned len;
	dma_addr_t tx_dma;
	dma_addr_t rx_dma;
	unsigned cs_change:1;
	u8 bits_per_word;
	u16 delay_usecs;
	u32 speed_hz;
	struct list_head transfer_list;
};

struct spi_message {
	struct list_head transfers;
	struct spi_device *spi;
	unsigned is_dma_mapped:1;
	/* Called once the controller is done with the message. */
	void (*complete)(void *context);
	void *context;
	unsigned actual_length;
	int status;
	/* For the controller while it holds the message. */
	struct list_head queue;
	void *state;
};

static inline void spi_message_init(struct spi_message *m)
{
	memset(m, 0, sizeof(*m));
	INIT_LIST_HEAD(&m->transfers);
}

static inline void spi_message_add_tail(struct spi_transfer *t,
					struct spi_message *m)
{
	list_add_tail(&t->transfer_list, &m->transfers);
}

int spi_setup(struct spi_device *spi);
/* Queues the message; its completion runs later, in interrupt context. */
int spi_async(struct spi_device *spi, struct spi_message *message);
#endif
#endif
