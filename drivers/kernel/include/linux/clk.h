#ifndef _HK_LINUX_CLK_H
#define _HK_LINUX_CLK_H
/* Clock framework: clocks by name with a rate and an enable count. */
#include <linux/err.h>
struct device;
struct clk;
struct clk *clk_get(struct device *dev, const char *id);
void clk_put(struct clk *clk);
int clk_enable(struct clk *clk);
void clk_disable(struct clk *clk);
unsigned long clk_get_rate(struct clk *clk);
#endif
