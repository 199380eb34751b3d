#include "priority.h"

#include <pthread.h>
#include <sched.h>

void raise_priority() {
  // Real-time, above every ordinary process, but below the kernel's threaded
  // interrupt handlers (priority 50), which the reads themselves wait for.
  sched_param param = {};
  param.sched_priority = sched_get_priority_max(SCHED_FIFO) / 2 - 1;
  sched_setscheduler(0, SCHED_FIFO, &param);
  pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
}
