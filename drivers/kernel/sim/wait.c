/* Wait queues: list of entries under the queue lock, woken by their function. */
#include <linux/wait.h>
#include <linux/sched.h>

void init_waitqueue_head(wait_queue_head_t *q)
{
	spin_lock_init(&q->lock);
	INIT_LIST_HEAD(&q->task_list);
}

int default_wake_function(wait_queue_t *wait, unsigned mode, int sync, void *key)
{
	struct task_struct *t = wait->private;

	if (!(t->state & (long)mode))
		return 0;
	return wake_up_process(t);
}

int autoremove_wake_function(wait_queue_t *wait, unsigned mode, int sync, void *key)
{
	int ret = default_wake_function(wait, mode, sync, key);

	if (ret)
		list_del_init(&wait->task_list);
	return ret;
}

void add_wait_queue(wait_queue_head_t *q, wait_queue_t *wait)
{
	unsigned long flags;

	wait->flags &= ~WQ_FLAG_EXCLUSIVE;
	spin_lock_irqsave(&q->lock, flags);
	list_add(&wait->task_list, &q->task_list);
	spin_unlock_irqrestore(&q->lock, flags);
}

void add_wait_queue_exclusive(wait_queue_head_t *q, wait_queue_t *wait)
{
	unsigned long flags;

	wait->flags |= WQ_FLAG_EXCLUSIVE;
	spin_lock_irqsave(&q->lock, flags);
	list_add_tail(&wait->task_list, &q->task_list);
	spin_unlock_irqrestore(&q->lock, flags);
}

void remove_wait_queue(wait_queue_head_t *q, wait_queue_t *wait)
{
	unsigned long flags;

	spin_lock_irqsave(&q->lock, flags);
	list_del(&wait->task_list);
	spin_unlock_irqrestore(&q->lock, flags);
}

static void prepare(wait_queue_head_t *q, wait_queue_t *wait, int state, int exclusive)
{
	unsigned long flags;

	spin_lock_irqsave(&q->lock, flags);
	if (list_empty(&wait->task_list)) {
		if (exclusive) {
			wait->flags |= WQ_FLAG_EXCLUSIVE;
			list_add_tail(&wait->task_list, &q->task_list);
		} else {
			wait->flags &= ~WQ_FLAG_EXCLUSIVE;
			list_add(&wait->task_list, &q->task_list);
		}
	}
	set_current_state(state);
	spin_unlock_irqrestore(&q->lock, flags);
}

void prepare_to_wait(wait_queue_head_t *q, wait_queue_t *wait, int state)
{
	prepare(q, wait, state, 0);
}

void prepare_to_wait_exclusive(wait_queue_head_t *q, wait_queue_t *wait, int state)
{
	prepare(q, wait, state, 1);
}

void finish_wait(wait_queue_head_t *q, wait_queue_t *wait)
{
	unsigned long flags;

	__set_current_state(TASK_RUNNING);
	spin_lock_irqsave(&q->lock, flags);
	if (!list_empty(&wait->task_list))
		list_del_init(&wait->task_list);
	spin_unlock_irqrestore(&q->lock, flags);
}

void __wake_up(wait_queue_head_t *q, unsigned int mode, int nr, void *key)
{
	struct list_head *pos, *next;
	unsigned long flags;

	spin_lock_irqsave(&q->lock, flags);
	list_for_each_safe(pos, next, &q->task_list) {
		wait_queue_t *w = list_entry(pos, wait_queue_t, task_list);
		unsigned int exclusive = w->flags & WQ_FLAG_EXCLUSIVE;

		if (w->func(w, mode, 0, key) && exclusive && !--nr)
			break;
	}
	spin_unlock_irqrestore(&q->lock, flags);
}
