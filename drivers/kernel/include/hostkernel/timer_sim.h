/*
 * Control side of the kernel timer simulation, for tests.  Plain C.
 *
 * Timers run from the simulated clock (hostkernel.h): each advance runs the
 * timers that have come due.  hk_timer_tick advances the clock to the start
 * of the next jiffy, n times, so a timer of period 1 runs once per call.
 */
#ifndef HOSTKERNEL_TIMER_SIM_H
#define HOSTKERNEL_TIMER_SIM_H

#ifdef __cplusplus
extern "C" {
#endif

/* Advances the simulated clock by n whole ticks, running due timers. */
void hk_timer_tick(unsigned int n);
/* Timers now pending (added and neither run nor deleted). */
int hk_timer_pending_count(void);
/* Timer function calls since start. */
long hk_timer_runs(void);

#ifdef __cplusplus
}
#endif
#endif
