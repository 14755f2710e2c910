/*
 * tpaneldrv - ADS7846 resistive touch panel as the input device
 * "Tavik Touchscreen".
 *
 * Binds to the board-declared SPI device "mytouch".  The pen interrupt is
 * not used: a kernel timer polls the panel every tick with one 320-byte
 * SPI message of 80 X and 80 Y conversions (12-bit raw values 0..4095).
 * The completion averages conversions 40..59 of each axis, rejects polls
 * that moved 250 raw counts or more, waits for three steady touched polls
 * and then reports BTN_TOUCH, ABS_X, ABS_Y (calibrated, about 2300..3200
 * and 1800..2200) and ABS_PRESSURE 127 every poll until the touch ends.
 *
 * A message the SPI layer does not hand back within 51 periods is
 * abandoned and the poll goes on with a second message, so that one
 * message is never queued twice; a late completion of an abandoned
 * message is not evaluated.  Unbinding waits until the SPI layer has
 * handed back every message before the input device goes away.
 */
#include <linux/module.h>
#include <linux/init.h>
#include <linux/kernel.h>
#include <linux/errno.h>
#include <linux/slab.h>
#include <linux/jiffies.h>
#include <linux/timer.h>
#include <linux/wait.h>
#include <linux/sched.h>
#include <linux/input.h>
#include <linux/spi/spi.h>

MODULE_LICENSE("GPL");
MODULE_DESCRIPTION("TARVARM touch");

/* Polling messages: the current one and a spare for a timed-out poll. */
#define TS_NMSG		2

struct ts_dev {
	struct spi_device *spi;
	struct spi_message *msg;	/* TS_NMSG polling messages */
	struct spi_transfer *xfer;	/* the single transfer of each */
	u8 *tx_buf;			/* command bytes, shared by all */
	u8 *rx_buf;			/* 4 * samples bytes per message */
	int samples;
	int skip;
	int count;
	int x_raw_a, x_raw_b;
	int x_out_a, x_out_b;
	int y_raw_a, y_raw_b;
	int y_out_a, y_out_b;
	int x_limit, y_limit;
	int max_dx, max_dy;
	int min_count;
	int last_x_raw, last_y_raw;
	int press_count;
	int last_x, last_y;
	struct timer_list timer;
	void (*periodic)(unsigned long data);
	int period;
	struct input_dev *input;
	char phys[32];
	int cur;			/* message of the current poll */
	int held[TS_NMSG];		/* submitted, not yet handed back */
};

static void touchperiodic(unsigned long data);

static struct ts_dev initializedTS = {
	.samples	= 80,
	.skip		= 40,
	.count		= 20,
	.x_raw_a	= 3900,
	.x_raw_b	= 160,
	.x_out_a	= 2300,
	.x_out_b	= 3200,
	.y_raw_a	= 3800,
	.y_raw_b	= 500,
	.y_out_a	= 1800,
	.y_out_b	= 2200,
	.x_limit	= 3900,
	.y_limit	= 3900,
	.max_dx		= 250,
	.max_dy		= 250,
	.min_count	= 2,
	.periodic	= touchperiodic,
	.period		= 1,
};

struct ts_dev *tsp;

/* 1: the current poll's message has been handed back and evaluated. */
int ts_complete = 1;
/* Periods left before an outstanding message is given up. */
int ts_timeout = 50;

/* Woken whenever the SPI layer hands a message back. */
static DECLARE_WAIT_QUEUE_HEAD(ts_idle_wait);

/* Start, X position, 12 bit, differential, reference and converter on. */
#define TS_CMD_X	0xD3
/* The same for the Y position. */
#define TS_CMD_Y	0x93
#define TS_PRESSURE	127

/* Raw 12-bit value of conversion k: 7 bits of the first byte, 5 of the next. */
static int ts_raw(const u8 *rx, int k)
{
	return ((rx[2 * k] & 0x7F) << 5) | (rx[2 * k + 1] >> 3);
}

static int ts_average(const u8 *rx, int first, int count)
{
	int sum = 0;
	int k;

	for (k = first; k < first + count; k++)
		sum += ts_raw(rx, k);
	return sum / count;
}

/* The line through (raw_a, out_a) and (raw_b, out_b), extrapolated beyond. */
static int ts_calibrate(int raw, int raw_a, int raw_b, int out_a, int out_b)
{
	return out_a + (out_b - out_a) * (raw - raw_a) / (raw_b - raw_a);
}

static int ts_abs(int v)
{
	return v < 0 ? -v : v;
}

static void ts_evaluate(struct ts_dev *ts, const u8 *rx)
{
	struct input_dev *input = ts->input;
	int x, y, steady, touched;

	x = ts_average(rx, ts->skip, ts->count);
	y = ts_average(rx, ts->samples + ts->skip, ts->count);
	steady = ts_abs(x - ts->last_x_raw) < ts->max_dx &&
		 ts_abs(y - ts->last_y_raw) < ts->max_dy;
	touched = x < ts->x_limit && y < ts->y_limit;

	if (touched && steady) {
		ts->press_count++;
		if (ts->press_count > ts->min_count) {
			int cx = ts_calibrate(x, ts->x_raw_a, ts->x_raw_b,
					      ts->x_out_a, ts->x_out_b);
			int cy = ts_calibrate(y, ts->y_raw_a, ts->y_raw_b,
					      ts->y_out_a, ts->y_out_b);

			input_report_key(input, BTN_TOUCH, 1);
			input_report_abs(input, ABS_X, cx);
			input_report_abs(input, ABS_Y, cy);
			input_report_abs(input, ABS_PRESSURE, TS_PRESSURE);
			input_sync(input);
			ts->last_x = cx;
			ts->last_y = cy;
		}
	} else {
		if (ts->press_count > 0) {
			input_report_abs(input, ABS_X, ts->last_x);
			input_report_abs(input, ABS_Y, ts->last_y);
			input_report_key(input, BTN_TOUCH, 0);
			input_report_abs(input, ABS_PRESSURE, 0);
			input_sync(input);
		}
		ts->press_count = 0;
	}
	ts->last_x_raw = x;
	ts->last_y_raw = y;
}

/*
 * Completion of a polling message; the context is the message.  Only the
 * current poll is evaluated.  The message is marked free before the poll
 * is marked complete, so the timer never picks a message still held.
 */
static void tscomplete(void *context)
{
	struct spi_message *m = context;
	struct ts_dev *ts = tsp;
	int i = m - ts->msg;

	if (i == ts->cur && ts_complete != 1) {
		ts_evaluate(ts, ts->rx_buf + i * 4 * ts->samples);
		ts->held[i] = 0;
		ts_complete = 1;
	} else {
		ts->held[i] = 0;
	}
	wake_up(&ts_idle_wait);
}

/* A message the SPI layer does not hold, the current one first; -1 if none. */
static int ts_free_msg(struct ts_dev *ts)
{
	int i;

	if (!ts->held[ts->cur])
		return ts->cur;
	for (i = 0; i < TS_NMSG; i++)
		if (!ts->held[i])
			return i;
	return -1;
}

static void touchperiodic(unsigned long data)
{
	struct ts_dev *ts = (struct ts_dev *)data;
	int next;

	/* Re-arm first: polling goes on whatever happens below. */
	mod_timer(&ts->timer, jiffies + ts->period);

	if (!ts->spi)
		return;
	if (ts_complete != 1 && ts_timeout >= 0) {
		ts_timeout--;
		return;
	}
	ts_timeout = 50;
	next = ts_free_msg(ts);
	if (next < 0)
		return;		/* all still held: wait another round */
	ts->cur = next;
	ts->held[next] = 1;
	ts_complete = 0;
	if (spi_async(ts->spi, &ts->msg[next]) < 0) {
		/* Not queued, so no completion comes: retry after timeout. */
		ts->held[next] = 0;
	}
}

static int ts_all_free(struct ts_dev *ts)
{
	int i;

	for (i = 0; i < TS_NMSG; i++)
		if (ts->held[i])
			return 0;
	return 1;
}

static void ts_free_buffers(struct ts_dev *ts)
{
	kfree(ts->rx_buf);
	kfree(ts->tx_buf);
	kfree(ts->xfer);
	kfree(ts->msg);
	ts->rx_buf = NULL;
	ts->tx_buf = NULL;
	ts->xfer = NULL;
	ts->msg = NULL;
}

static int ads7846_probe(struct spi_device *spi)
{
	struct ts_dev *ts = tsp;
	struct input_dev *input;
	int len = 4 * ts->samples;
	int err;
	int i;

	printk("Probing\n");

	ts->msg = kcalloc(TS_NMSG, sizeof(*ts->msg), GFP_KERNEL);
	ts->xfer = kcalloc(TS_NMSG, sizeof(*ts->xfer), GFP_KERNEL);
	ts->tx_buf = kzalloc(len, GFP_KERNEL);
	ts->rx_buf = kzalloc(TS_NMSG * len, GFP_KERNEL);
	if (!ts->msg || !ts->xfer || !ts->tx_buf || !ts->rx_buf) {
		err = -ENOMEM;
		goto err_free;
	}

	spi->bits_per_word = 8;
	spi->mode = SPI_MODE_0;
	err = spi_setup(spi);
	if (err < 0)
		goto err_free;

	spi_set_drvdata(spi, ts);

	for (i = 0; i < ts->samples; i++) {
		ts->tx_buf[2 * i] = TS_CMD_X;
		ts->tx_buf[2 * i + 1] = 0x00;
		ts->tx_buf[2 * (ts->samples + i)] = TS_CMD_Y;
		ts->tx_buf[2 * (ts->samples + i) + 1] = 0x00;
	}
	for (i = 0; i < TS_NMSG; i++) {
		spi_message_init(&ts->msg[i]);
		ts->xfer[i].tx_buf = ts->tx_buf;
		ts->xfer[i].rx_buf = ts->rx_buf + i * len;
		ts->xfer[i].len = len;
		spi_message_add_tail(&ts->xfer[i], &ts->msg[i]);
		ts->msg[i].complete = tscomplete;
		ts->msg[i].context = &ts->msg[i];
		ts->held[i] = 0;
	}
	/* Each binding starts from the load-time poll state. */
	ts->cur = 0;
	ts->last_x_raw = 0;
	ts->last_y_raw = 0;
	ts->press_count = 0;
	ts->last_x = 0;
	ts->last_y = 0;
	ts_complete = 1;
	ts_timeout = 50;

	input = input_allocate_device();
	if (!input) {
		err = -1;
		goto err_free;
	}
	snprintf(ts->phys, sizeof(ts->phys), "%s/event0", spi->dev.bus_id);
	input->name = "Tavik Touchscreen";
	input->phys = ts->phys;
	input->dev.parent = &spi->dev;
	input->evbit[0] = BIT_MASK(EV_KEY) | BIT_MASK(EV_ABS);
	input->keybit[BIT_WORD(BTN_TOUCH)] = BIT_MASK(BTN_TOUCH);
	input_set_abs_params(input, ABS_X, 0, 4095, 0, 0);
	input_set_abs_params(input, ABS_Y, 0, 4095, 0, 0);
	input_set_abs_params(input, ABS_PRESSURE, 0, 127, 0, 0);

	err = input_register_device(input);
	if (err)
		goto err_free_input;
	ts->input = input;

	/* Last: from here on the timer polls this device. */
	ts->spi = spi;
	return 0;

err_free_input:
	input_free_device(input);
err_free:
	spi_set_drvdata(spi, NULL);
	ts_free_buffers(ts);
	return err;
}

static int ads7846_remove(struct spi_device *spi)
{
	struct ts_dev *ts = spi_get_drvdata(spi);

	printk("remove\n");

	/* No new polls; then let the SPI layer hand back what it holds. */
	ts->spi = NULL;
	while (!wait_event_timeout(ts_idle_wait, ts_all_free(ts), HZ))
		printk("<4>mytouch: waiting for the SPI controller\n");

	input_unregister_device(ts->input);
	ts->input = NULL;
	spi_set_drvdata(spi, NULL);
	ts_free_buffers(ts);
	return 0;
}

static struct spi_driver mytouchdriver = {
	.driver = {
		.name	= "mytouch",
		.bus	= &spi_bus_type,
		.owner	= THIS_MODULE,
	},
	.probe	= ads7846_probe,
	.remove	= ads7846_remove,
};

int init_module(void)
{
	int err;

	tsp = &initializedTS;
	err = spi_register_driver(&mytouchdriver);
	if (err)
		return err;

	init_timer(&tsp->timer);
	tsp->timer.function = tsp->periodic;
	tsp->timer.data = (unsigned long)tsp;
	tsp->timer.expires = jiffies + 1;
	add_timer(&tsp->timer);
	printk("<5>%d : %s() - MyTouch inserted\n", 370, "init_module");
	return 0;
}

void cleanup_module(void)
{
	printk("<5>MyTouch removed\n");
	/* Stop polling before the device goes; remove waits for the rest. */
	del_timer_sync(&tsp->timer);
	spi_unregister_driver(&mytouchdriver);
}

#ifdef __HOSTKERNEL__
/* The host kernel layer finds a module's entry points through these. */
module_init(init_module);
module_exit(cleanup_module);
#endif
