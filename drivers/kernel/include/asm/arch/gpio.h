#ifndef _HK_ASM_ARCH_GPIO_H
#define _HK_ASM_ARCH_GPIO_H
/*
 * AT91 pin numbers (after the 32 AIC interrupt numbers, 32 per port) and the
 * pin multiplexer.  The simulation records each pin's function, pull-up,
 * direction and level (hostkernel/at91.h).
 */
#include <asm/irq.h>

#define PIN_BASE		NR_AIC_IRQS
#define MAX_GPIO_BANKS		5

#define AT91_PIN_PA(n)		(PIN_BASE + 0x00 + (n))
#define AT91_PIN_PB(n)		(PIN_BASE + 0x20 + (n))
#define AT91_PIN_PC(n)		(PIN_BASE + 0x40 + (n))
#define AT91_PIN_PD(n)		(PIN_BASE + 0x60 + (n))
#define AT91_PIN_PE(n)		(PIN_BASE + 0x80 + (n))

#define AT91_PIN_PA0 AT91_PIN_PA(0)
#define AT91_PIN_PA1 AT91_PIN_PA(1)
#define AT91_PIN_PA2 AT91_PIN_PA(2)
#define AT91_PIN_PA3 AT91_PIN_PA(3)
#define AT91_PIN_PA4 AT91_PIN_PA(4)
#define AT91_PIN_PA5 AT91_PIN_PA(5)
#define AT91_PIN_PA6 AT91_PIN_PA(6)
#define AT91_PIN_PA7 AT91_PIN_PA(7)
#define AT91_PIN_PA15 AT91_PIN_PA(15)
#define AT91_PIN_PA31 AT91_PIN_PA(31)
#define AT91_PIN_PB0 AT91_PIN_PB(0)
#define AT91_PIN_PB1 AT91_PIN_PB(1)
#define AT91_PIN_PB2 AT91_PIN_PB(2)
#define AT91_PIN_PB3 AT91_PIN_PB(3)
#define AT91_PIN_PB11 AT91_PIN_PB(11)
#define AT91_PIN_PB12 AT91_PIN_PB(12)
#define AT91_PIN_PB13 AT91_PIN_PB(13)
#define AT91_PIN_PB14 AT91_PIN_PB(14)
#define AT91_PIN_PB15 AT91_PIN_PB(15)
#define AT91_PIN_PB16 AT91_PIN_PB(16)
#define AT91_PIN_PB17 AT91_PIN_PB(17)
#define AT91_PIN_PB18 AT91_PIN_PB(18)
#define AT91_PIN_PE8 AT91_PIN_PE(8)
#define AT91_PIN_PE18 AT91_PIN_PE(18)
#define AT91_PIN_PE19 AT91_PIN_PE(19)

int at91_set_GPIO_periph(unsigned pin, int use_pullup);
int at91_set_A_periph(unsigned pin, int use_pullup);
int at91_set_B_periph(unsigned pin, int use_pullup);
int at91_set_gpio_input(unsigned pin, int use_pullup);
int at91_set_gpio_output(unsigned pin, int value);
int at91_set_deglitch(unsigned pin, int is_on);
int at91_set_multi_drive(unsigned pin, int is_on);
int at91_set_gpio_value(unsigned pin, int value);
int at91_get_gpio_value(unsigned pin);

int gpio_request(unsigned gpio, const char *label);
void gpio_free(unsigned gpio);
int gpio_direction_input(unsigned gpio);
int gpio_direction_output(unsigned gpio, int value);
#define gpio_get_value(g) at91_get_gpio_value(g)
#define gpio_set_value(g, v) at91_set_gpio_value(g, v)
#define gpio_to_irq(g) (g)
#define irq_to_gpio(i) (i)
#endif
