/*
 * Fault injection and the ledger of live resources, both keyed by kind name
 * so that any part of the simulation can add kinds of its own.
 */
#include <linux/kernel.h>
#include <pthread.h>
#include <stdio.h>
#include <string.h>
#include <hostkernel/hostkernel.h>

#define MAX_KINDS 64

struct kind {
	char name[32];
	long calls;		/* calls seen since start */
	long fail_from;		/* absolute call number of the first failure, 0 = none */
	long fail_count;	/* failures left; < 0 = unlimited */
	long live;
};

static pthread_mutex_t kinds_lock = PTHREAD_MUTEX_INITIALIZER;
static struct kind kinds[MAX_KINDS];
static int nkinds;

static struct kind *kind_get(const char *name)
{
	int i;

	for (i = 0; i < nkinds; i++)
		if (strcmp(kinds[i].name, name) == 0)
			return &kinds[i];
	if (nkinds == MAX_KINDS)
		hk_bug(__FILE__, __LINE__, "too many fault kinds");
	snprintf(kinds[nkinds].name, sizeof(kinds[nkinds].name), "%s", name);
	return &kinds[nkinds++];
}

void hk_fault_inject(const char *kind, int nth, int count)
{
	struct kind *k;

	pthread_mutex_lock(&kinds_lock);
	k = kind_get(kind);
	if (nth <= 0 || count == 0) {
		k->fail_from = 0;
	} else {
		k->fail_from = k->calls + nth;
		k->fail_count = count;
	}
	pthread_mutex_unlock(&kinds_lock);
}

void hk_fault_clear(void)
{
	int i;

	pthread_mutex_lock(&kinds_lock);
	for (i = 0; i < nkinds; i++)
		kinds[i].fail_from = 0;
	pthread_mutex_unlock(&kinds_lock);
}

int hk_fault_hit(const char *kind)
{
	struct kind *k;
	int fail = 0;

	pthread_mutex_lock(&kinds_lock);
	k = kind_get(kind);
	k->calls++;
	if (k->fail_from && k->calls >= k->fail_from && k->fail_count != 0) {
		fail = 1;
		if (k->fail_count > 0 && --k->fail_count == 0)
			k->fail_from = 0;
	}
	pthread_mutex_unlock(&kinds_lock);
	return fail;
}

long hk_fault_calls(const char *kind)
{
	long n;

	pthread_mutex_lock(&kinds_lock);
	n = kind_get(kind)->calls;
	pthread_mutex_unlock(&kinds_lock);
	return n;
}

void hk_res_acquire(const char *kind)
{
	pthread_mutex_lock(&kinds_lock);
	kind_get(kind)->live++;
	pthread_mutex_unlock(&kinds_lock);
}

void hk_res_release(const char *kind)
{
	struct kind *k;

	pthread_mutex_lock(&kinds_lock);
	k = kind_get(kind);
	if (k->live <= 0) {
		pthread_mutex_unlock(&kinds_lock);
		fprintf(stderr, "hostkernel: %s released more often than taken\n", kind);
		abort();
	}
	k->live--;
	pthread_mutex_unlock(&kinds_lock);
}

long hk_res_live(const char *kind)
{
	long n;

	pthread_mutex_lock(&kinds_lock);
	n = kind_get(kind)->live;
	pthread_mutex_unlock(&kinds_lock);
	return n;
}

long hk_res_live_total(void)
{
	long n = 0;
	int i;

	pthread_mutex_lock(&kinds_lock);
	for (i = 0; i < nkinds; i++)
		n += kinds[i].live;
	pthread_mutex_unlock(&kinds_lock);
	return n;
}

const char *hk_res_report(char *buf, size_t size)
{
	size_t used = 0;
	int i;

	if (!size)
		return buf;
	buf[0] = '\0';
	pthread_mutex_lock(&kinds_lock);
	for (i = 0; i < nkinds && used < size; i++) {
		int n;

		if (!kinds[i].live)
			continue;
		n = snprintf(buf + used, size - used, "%s%s=%ld", used ? " " : "",
			     kinds[i].name, kinds[i].live);
		if (n < 0)
			break;
		used += (size_t)n;
	}
	pthread_mutex_unlock(&kinds_lock);
	return buf;
}
