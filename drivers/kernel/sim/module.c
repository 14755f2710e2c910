/*
 * Module registry: module_init, module_exit, module_param and MODULE_INFO
 * register here by module name (from constructors, before main), and tests
 * load and unload through hk_module_load/hk_module_unload.
 */
#include <linux/module.h>
#include <linux/errno.h>
#include <linux/string.h>
#include <pthread.h>
#include <stdio.h>
#include <errno.h>
#include <hostkernel/hostkernel.h>

#define MAX_MODULES 8
#define MAX_PARAMS 32
#define MAX_INFO 16

struct param {
	const char *name;
	enum hk_param_type type;
	void *var;
	unsigned int size;
	unsigned int perm;
	unsigned char initial[sizeof(long) > sizeof(void *) ? sizeof(long) : sizeof(void *)];
};

struct modrec {
	const char *name;
	struct module *mod;
	initcall_t init;
	exitcall_t exit;
	struct param params[MAX_PARAMS];
	int nparams;
	const char *info_tag[MAX_INFO];
	const char *info_val[MAX_INFO];
	int ninfo;
};

static struct modrec modules[MAX_MODULES];
static int nmodules;

static struct modrec *modrec_get(const char *name, int create)
{
	int i;

	if (!name)
		return nmodules == 1 ? &modules[0] : NULL;
	for (i = 0; i < nmodules; i++)
		if (strcmp(modules[i].name, name) == 0)
			return &modules[i];
	if (!create)
		return NULL;
	if (nmodules == MAX_MODULES)
		hk_bug(__FILE__, __LINE__, "too many modules");
	modules[nmodules].name = name;
	return &modules[nmodules++];
}

void hk_module_register_init(const char *name, struct module *mod, initcall_t fn)
{
	struct modrec *m = modrec_get(name, 1);

	m->mod = mod;
	m->init = fn;
}

void hk_module_register_exit(const char *name, exitcall_t fn)
{
	modrec_get(name, 1)->exit = fn;
}

void hk_module_register_info(const char *name, const char *tag, const char *value)
{
	struct modrec *m = modrec_get(name, 1);

	if (m->ninfo == MAX_INFO)
		hk_bug(__FILE__, __LINE__, "too many modinfo tags");
	m->info_tag[m->ninfo] = tag;
	m->info_val[m->ninfo++] = value;
}

void hk_module_register_param(const char *module, const char *name,
			      enum hk_param_type type, void *var,
			      unsigned int size, unsigned int perm)
{
	struct modrec *m = modrec_get(module, 1);
	struct param *p;

	if (m->nparams == MAX_PARAMS || size > sizeof(p->initial))
		hk_bug(__FILE__, __LINE__, "module parameter table");
	p = &m->params[m->nparams++];
	p->name = name;
	p->type = type;
	p->var = var;
	p->size = size;
	p->perm = perm;
	memcpy(p->initial, var, size);
}

/* Parse one value as the 2.6 kernel does: base prefixes allowed, must fit. */
static int param_set(struct param *p, const char *val)
{
	char *end;
	long l;
	unsigned long ul;

	if (!val && p->type != HK_PARAM_bool && p->type != HK_PARAM_invbool)
		return -EINVAL;
	switch (p->type) {
	case HK_PARAM_charp:
		*(const char **)p->var = val;
		return 0;
	case HK_PARAM_bool:
	case HK_PARAM_invbool:
		if (!val || !strcmp(val, "1") || !strcmp(val, "y") || !strcmp(val, "Y"))
			l = 1;
		else if (!strcmp(val, "0") || !strcmp(val, "n") || !strcmp(val, "N"))
			l = 0;
		else
			return -EINVAL;
		*(int *)p->var = p->type == HK_PARAM_bool ? (int)l : !l;
		return 0;
	case HK_PARAM_short:
	case HK_PARAM_int:
	case HK_PARAM_long:
		errno = 0;
		l = strtol(val, &end, 0);
		if (end == val || *end || errno)
			return -EINVAL;
		if (p->type == HK_PARAM_short) {
			if ((short)l != l)
				return -EINVAL;
			*(short *)p->var = (short)l;
		} else if (p->type == HK_PARAM_int) {
			if ((int)l != l)
				return -EINVAL;
			*(int *)p->var = (int)l;
		} else {
			*(long *)p->var = l;
		}
		return 0;
	default:
		errno = 0;
		ul = strtoul(val, &end, 0);
		if (end == val || *end || errno)
			return -EINVAL;
		if (p->type == HK_PARAM_byte) {
			if ((unsigned char)ul != ul)
				return -EINVAL;
			*(unsigned char *)p->var = (unsigned char)ul;
		} else if (p->type == HK_PARAM_ushort) {
			if ((unsigned short)ul != ul)
				return -EINVAL;
			*(unsigned short *)p->var = (unsigned short)ul;
		} else if (p->type == HK_PARAM_uint) {
			if ((unsigned int)ul != ul)
				return -EINVAL;
			*(unsigned int *)p->var = (unsigned int)ul;
		} else {
			*(unsigned long *)p->var = ul;
		}
		return 0;
	}
}

static int parse_args(struct modrec *m, const char *args, char *copy)
{
	char *save = NULL, *tok;
	int i;

	for (i = 0; i < m->nparams; i++)
		memcpy(m->params[i].var, m->params[i].initial, m->params[i].size);
	if (!args)
		return 0;
	strcpy(copy, args);
	for (tok = strtok_r(copy, " \t\n", &save); tok; tok = strtok_r(NULL, " \t\n", &save)) {
		char *val = strchr(tok, '=');
		struct param *p = NULL;
		int err;

		if (val)
			*val++ = '\0';
		for (i = 0; i < m->nparams; i++)
			if (!strcmp(m->params[i].name, tok))
				p = &m->params[i];
		if (!p) {
			printk(KERN_ERR "%s: Unknown parameter `%s'\n", m->name, tok);
			return -ENOENT;
		}
		err = param_set(p, val);
		if (err) {
			printk(KERN_ERR "%s: `%s' invalid for parameter `%s'\n",
			       m->name, val ? val : "", tok);
			return err;
		}
	}
	return 0;
}

/* charp arguments point into this copy, which lives until the next load */
static char *args_copy;

int hk_module_load(const char *name, const char *args)
{
	struct modrec *m = modrec_get(name, 0);
	int err;

	if (!m || !m->mod || !m->init)
		return -ENOENT;
	if (m->mod->loaded)
		return -EEXIST;
	free(args_copy);
	args_copy = malloc(args ? strlen(args) + 1 : 1);
	if (!args_copy)
		return -ENOMEM;
	err = parse_args(m, args, args_copy);
	if (err)
		return err;
	m->mod->name = m->name;
	m->mod->refcnt = 0;
	m->mod->state = MODULE_STATE_COMING;
	err = m->init();
	if (err) {
		m->mod->state = MODULE_STATE_GOING;
		return err;
	}
	m->mod->state = MODULE_STATE_LIVE;
	m->mod->loaded = 1;
	return 0;
}

int hk_module_unload(const char *name)
{
	struct modrec *m = modrec_get(name, 0);

	if (!m || !m->mod || !m->mod->loaded)
		return -ENOENT;
	if (!m->exit)
		return -EBUSY;	/* a module without exit cannot be removed */
	if (__atomic_load_n(&m->mod->refcnt, __ATOMIC_SEQ_CST) > 0)
		return -EWOULDBLOCK;
	m->mod->state = MODULE_STATE_GOING;
	m->exit();
	m->mod->loaded = 0;
	return 0;
}

int hk_module_loaded(const char *name)
{
	struct modrec *m = modrec_get(name, 0);

	return m && m->mod && m->mod->loaded;
}

int hk_module_refcount(const char *name)
{
	struct modrec *m = modrec_get(name, 0);

	return m && m->mod ? m->mod->refcnt : -1;
}

const char *hk_module_info(const char *name, const char *tag)
{
	struct modrec *m = modrec_get(name, 0);
	int i;

	if (!m)
		return NULL;
	for (i = 0; i < m->ninfo; i++)
		if (!strcmp(m->info_tag[i], tag))
			return m->info_val[i];
	return NULL;
}

static struct param *param_find(const char *name, const char *param)
{
	struct modrec *m = modrec_get(name, 0);
	int i;

	if (!m)
		return NULL;
	for (i = 0; i < m->nparams; i++)
		if (!strcmp(m->params[i].name, param))
			return &m->params[i];
	return NULL;
}

const char *hk_module_param(const char *name, const char *param, char *buf, size_t size)
{
	struct param *p = param_find(name, param);

	if (!p)
		return NULL;
	switch (p->type) {
	case HK_PARAM_byte: snprintf(buf, size, "%u", *(unsigned char *)p->var); break;
	case HK_PARAM_short: snprintf(buf, size, "%hd", *(short *)p->var); break;
	case HK_PARAM_ushort: snprintf(buf, size, "%hu", *(unsigned short *)p->var); break;
	case HK_PARAM_int: snprintf(buf, size, "%d", *(int *)p->var); break;
	case HK_PARAM_uint: snprintf(buf, size, "%u", *(unsigned int *)p->var); break;
	case HK_PARAM_long: snprintf(buf, size, "%ld", *(long *)p->var); break;
	case HK_PARAM_ulong: snprintf(buf, size, "%lu", *(unsigned long *)p->var); break;
	case HK_PARAM_charp: snprintf(buf, size, "%s", *(char **)p->var ? *(char **)p->var : "(null)"); break;
	case HK_PARAM_bool: snprintf(buf, size, "%c", *(int *)p->var ? 'Y' : 'N'); break;
	case HK_PARAM_invbool: snprintf(buf, size, "%c", *(int *)p->var ? 'N' : 'Y'); break;
	}
	return buf;
}

int hk_module_param_perm(const char *name, const char *param)
{
	struct param *p = param_find(name, param);

	return p ? (int)p->perm : -1;
}

int try_module_get(struct module *mod)
{
	if (!mod)
		return 1;
	if (mod->state == MODULE_STATE_GOING)
		return 0;
	__atomic_add_fetch(&mod->refcnt, 1, __ATOMIC_SEQ_CST);
	return 1;
}

void __module_get(struct module *mod)
{
	if (mod)
		__atomic_add_fetch(&mod->refcnt, 1, __ATOMIC_SEQ_CST);
}

void module_put(struct module *mod)
{
	if (!mod)
		return;
	if (__atomic_sub_fetch(&mod->refcnt, 1, __ATOMIC_SEQ_CST) < 0)
		hk_bug(__FILE__, __LINE__, "module reference count below zero");
}

int module_refcount(struct module *mod)
{
	return mod ? mod->refcnt : 0;
}
