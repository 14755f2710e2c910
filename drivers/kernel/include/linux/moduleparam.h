#ifndef _HK_LINUX_MODULEPARAM_H
#define _HK_LINUX_MODULEPARAM_H
/*
 * Module parameters are registered under the module's name; each load
 * restores their initial values and then applies the load arguments, as a
 * freshly loaded module image would.
 */
#include <linux/init.h>
#include <stdbool.h>

enum hk_param_type {
	HK_PARAM_byte, HK_PARAM_short, HK_PARAM_ushort, HK_PARAM_int,
	HK_PARAM_uint, HK_PARAM_long, HK_PARAM_ulong, HK_PARAM_charp,
	HK_PARAM_bool, HK_PARAM_invbool,
};
typedef unsigned char __hk_pt_byte;
typedef short __hk_pt_short;
typedef unsigned short __hk_pt_ushort;
typedef int __hk_pt_int;
typedef unsigned int __hk_pt_uint;
typedef long __hk_pt_long;
typedef unsigned long __hk_pt_ulong;
typedef char *__hk_pt_charp;
typedef int __hk_pt_bool;
typedef int __hk_pt_invbool;
/* "bool" reaches these macros already expanded by <stdbool.h> */
typedef int __hk_pt__Bool;
#define HK_PARAM__Bool HK_PARAM_bool

void hk_module_register_param(const char *module, const char *name,
			      enum hk_param_type type, void *var,
			      unsigned int size, unsigned int perm);

#define module_param_named(name, value, type, perm)			\
	static __hk_pt_##type *__hk_pcheck_##name __attribute__((unused)) = &(value); \
	static void __attribute__((constructor)) __hk_param_##name(void) \
	{ hk_module_register_param(HK_MODULE_NAME, #name, HK_PARAM_##type, \
				   &(value), sizeof(value), perm); }
#define module_param(name, type, perm) module_param_named(name, name, type, perm)
#define MODULE_PARM_DESC(name, desc)

#endif
