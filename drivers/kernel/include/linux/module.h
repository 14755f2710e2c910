#ifndef __KERNEL__
#include_next <linux/module.h>
#else
#ifndef _HK_LINUX_MODULE_H
#define _HK_LINUX_MODULE_H
#include <linux/types.h>
#include <linux/init.h>
#include <linux/kernel.h>
#include <linux/stat.h>
#include <linux/errno.h>
#include <linux/moduleparam.h>

#define THIS_MODULE (&__this_module)

int try_module_get(struct module *mod);
void module_put(struct module *mod);
void __module_get(struct module *mod);
int module_refcount(struct module *mod);

void hk_module_register_info(const char *name, const char *tag, const char *value);
#define MODULE_INFO(tag, info)						\
	static void __attribute__((constructor))			\
	__HK_CAT(__hk_modinfo_##tag, __LINE__)(void)			\
	{ hk_module_register_info(HK_MODULE_NAME, #tag, info); }
#define MODULE_LICENSE(l) MODULE_INFO(license, l)
#define MODULE_AUTHOR(a) MODULE_INFO(author, a)
#define MODULE_DESCRIPTION(d) MODULE_INFO(description, d)
#define MODULE_VERSION(v) MODULE_INFO(version, v)
#define MODULE_ALIAS(a) MODULE_INFO(alias, a)
#define MODULE_DEVICE_TABLE(type, name)
#define EXPORT_SYMBOL(sym)
#define EXPORT_SYMBOL_GPL(sym)

#endif
#endif
