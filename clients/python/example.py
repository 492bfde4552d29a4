#!/usr/bin/env python3
"""Registers an every-second event limited to three ticks, shows them, asks the scheduler
about the event and unregisters it.

    python3 clients/python/example.py [PATH/TO/scheduler-host]
"""

import sys

from scheduler_client import SchedulerClient, SchedulerError

JOB = {"job": "backup", "attempt": 1}

with SchedulerClient(sys.argv[1] if len(sys.argv) > 1 else None) as scheduler:
    scheduler.request("RegisterTimeEvent", user="alice", userData=JOB,
                      timeEvent={"timespecification": "* * * * * ?", "utclocal": True,
                                 "range": {"rangedefinitionoccurences": 3}})
    remaining = scheduler.request("GetRemainingTimeByUserDataRequest", userData=JOB)
    print(f"registered; next tick at {remaining['nextTick']}")
    for count, tick in enumerate(scheduler.ticks(timeout=5), start=1):
        print(f"tick {count} at {tick['time']} for {tick['user']}: {tick['userData']}")
        if count == 3:
            break
    scheduler.send("UnregisterTimeEvent", userData=JOB)
    try:
        scheduler.request("GetRemainingTimeByUserDataRequest", userData=JOB)
    except SchedulerError as error:
        print(f"after three ticks: {error}")
