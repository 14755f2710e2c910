#ifndef __KERNEL__
#include_next <linux/i2c.h>
#else
#ifndef _HK_LINUX_I2C_H
#define _HK_LINUX_I2C_H
/*
 * I2C core as a 2.6.25 new-style client driver sees it: adapters (buses)
 * with their number, clients declared by the board code and bound to the
 * driver whose name matches the client's driver name, and the SMBus
 * transfers.  The host simulation (hostkernel/i2c_sim.h) declares the
 * adapters and clients and records every transfer.
 */
#include <linux/types.h>
#include <linux/list.h>
#include <linux/device.h>
#include <linux/module.h>

#define I2C_NAME_SIZE	20
#ifndef KOBJ_NAME_LEN
#define KOBJ_NAME_LEN	20
#endif

struct i2c_client;

struct i2c_adapter {
	struct module *owner;
	unsigned int id;
	unsigned int class;
	void *algo_data;
	int timeout;
	int retries;
	struct device dev;
	int nr;
	char name[48];
};

struct i2c_driver {
	int id;
	unsigned int class;
	/* Legacy binding; a new-style driver leaves these empty. */
	int (*attach_adapter)(struct i2c_adapter *adapter);
	int (*detach_adapter)(struct i2c_adapter *adapter);
	int (*detach_client)(struct i2c_client *client);
	/* New-style binding to board-declared clients. */
	int (*probe)(struct i2c_client *client);
	int (*remove)(struct i2c_client *client);
	void (*shutdown)(struct i2c_client *client);
	int (*command)(struct i2c_client *client, unsigned int cmd, void *arg);
	struct device_driver driver;
	struct list_head list;
};

struct i2c_client {
	unsigned short flags;
	unsigned short addr;
	char name[I2C_NAME_SIZE];
	struct i2c_adapter *adapter;
	struct i2c_driver *driver;
	struct device dev;
	int irq;
	char driver_name[KOBJ_NAME_LEN];
	struct list_head list;
};

static inline void *i2c_get_clientdata(struct i2c_client *client)
{
	return dev_get_drvdata(&client->dev);
}

static inline void i2c_set_clientdata(struct i2c_client *client, void *data)
{
	dev_set_drvdata(&client->dev, data);
}

int i2c_register_driver(struct module *owner, struct i2c_driver *driver);
void i2c_del_driver(struct i2c_driver *driver);

static inline int i2c_add_driver(struct i2c_driver *driver)
{
	return i2c_register_driver(THIS_MODULE, driver);
}

s32 i2c_smbus_write_byte_data(struct i2c_client *client, u8 command, u8 value);
s32 i2c_smbus_write_word_data(struct i2c_client *client, u8 command, u16 value);
#endif
#endif
