#ifndef _HK_LINUX_INIT_H
#define _HK_LINUX_INIT_H
/*
 * module_init/module_exit record the module's load and unload functions
 * under its name, so hk_module_load/hk_module_unload can run them.
 * The host build names each module with HK_MODULE_NAME (a string) and
 * HK_MODULE_ID (the same as a bare identifier).
 */
#include <linux/compiler.h>

#define __init
#define __exit
#define __initdata
#define __exitdata
#define __devinit
#define __devexit
#define __devinitdata
#define __devexit_p(x) x
#define __exit_p(x) x

#ifndef HK_MODULE_NAME
#define HK_MODULE_NAME "module"
#endif
#ifndef HK_MODULE_ID
#define HK_MODULE_ID module
#endif
#ifndef KBUILD_MODNAME
#define KBUILD_MODNAME HK_MODULE_NAME
#endif

#define __HK_CAT2(a, b) a##b
#define __HK_CAT(a, b) __HK_CAT2(a, b)
#define __this_module __HK_CAT(__hk_this_module_, HK_MODULE_ID)

enum module_state {
	MODULE_STATE_LIVE,
	MODULE_STATE_COMING,
	MODULE_STATE_GOING,
};

/* The host's module record: one per module, defined where module_init is. */
struct module {
	enum module_state state;
	const char *name;
	int refcnt;
	int loaded;
};
extern struct module __this_module;

typedef int (*initcall_t)(void);
typedef void (*exitcall_t)(void);
void hk_module_register_init(const char *name, struct module *mod, initcall_t fn);
void hk_module_register_exit(const char *name, exitcall_t fn);

#define module_init(fn)							\
	struct module __this_module = { .state = MODULE_STATE_LIVE,	\
					.name = HK_MODULE_NAME };	\
	static void __attribute__((constructor)) __hk_reg_init(void)	\
	{ hk_module_register_init(HK_MODULE_NAME, &__this_module, fn); }
#define module_exit(fn)							\
	static void __attribute__((constructor)) __hk_reg_exit(void)	\
	{ hk_module_register_exit(HK_MODULE_NAME, fn); }

#endif
