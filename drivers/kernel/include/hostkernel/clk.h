/* Clocks of the simulated board by name: rate in Hz and enable count. */
#ifndef HOSTKERNEL_CLK_H
#define HOSTKERNEL_CLK_H
#ifdef __cplusplus
extern "C" {
#endif
int hk_clk_register(const char *name, unsigned long rate);
void hk_clk_set_rate(const char *name, unsigned long rate);
int hk_clk_enabled(const char *name);	/* enable count, -1 when unknown */
/* The board code enables (on) or disables a clock of its own accord;
 * the new count, -1 when unknown or not enabled */
int hk_clk_board_enable(const char *name, int on);
void hk_clk_reset(void);		/* forget every clock */
#ifdef __cplusplus
}
#endif
#endif
