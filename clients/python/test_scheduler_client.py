"""The Python client against the real scheduler-host ($SCHEDULER_HOST) and plug-in."""

import os
import subprocess
import sys
import unittest

from scheduler_client import SchedulerClient, SchedulerError

EVERY_SECOND = {"timespecification": "* * * * * ?", "utclocal": True}
NOON = {"timespecification": "0 0 12 * * ?", "utclocal": True}


class SchedulerClientTest(unittest.TestCase):
    def setUp(self):
        self.scheduler = SchedulerClient()

    def tearDown(self):
        self.assertEqual(self.scheduler.close(), 0)

    def test_registration_ticks_with_its_user_data_sent_back_exactly(self):
        # Integers beyond 64 bits come back digit for digit.
        user_data = {"job": "backup", "serial": 123456789012345678901234567890, "n": -2**70}
        reply = self.scheduler.request(
            "RegisterTimeEvent", user="alice", userData=user_data,
            timeEvent={**EVERY_SECOND, "range": {"rangedefinitionoccurences": 2}})
        self.assertEqual(reply["name"], "RegisterTimeEventResponse")
        self.assertEqual(reply["user"], "alice")
        ticks = list(self.scheduler.ticks(timeout=3))
        self.assertEqual([tick["userData"] for tick in ticks], [user_data, user_data])
        self.assertEqual({tick["user"] for tick in ticks}, {"alice"})

    def test_replies_are_matched_to_their_requests_whatever_their_order(self):
        futures = [self.scheduler.submit("RegisterTimeEvent", timeEvent=NOON, userData=n)
                   for n in range(20)]
        futures.append(self.scheduler.submit("GetLastTickRequest", timeEvent={
            "timespecification": "0 0 12 L * ? 2030", "utclocal": True}))
        replies = [future.result(10) for future in futures]
        self.assertEqual([reply["id"] for reply in replies], list(range(1, 22)))
        self.assertEqual(replies[-1]["lastTick"], "2030-12-31T12:00:00Z")
        remaining = self.scheduler.request("GetRemainingTimeByUserDataRequest", userData=7)
        self.assertGreater(remaining["remainingSeconds"], 0)

    def test_error_replies_and_refused_lines_raise_with_their_exception(self):
        cases = [
            ("RegisterTimeEvent", {"timeEvent": {"timespecification": "0 0 12 * *"},
                                   "userData": 1}, "CFormatException", 6),
            ("GetRemainingTimeByUserDataRequest", {"userData": "nobody"},
             "CNoEventException", 5),
            ("RegisterTimeEvent", {"timeEvnt": {}}, "HostError", None),
        ]
        for request_type, fields, exception, code in cases:
            with self.subTest(exception=exception):
                with self.assertRaises(SchedulerError) as raised:
                    self.scheduler.request(request_type, **fields)
                self.assertEqual(raised.exception.exception, exception)
                self.assertEqual(raised.exception.code, code)

    def test_requests_after_a_forced_stop_are_answered_with_an_error(self):
        self.scheduler.request("RegisterTimeEvent", timeEvent=NOON, userData="before")
        ack = self.scheduler.control("stop", force=True)
        self.assertTrue(ack["stopped"])
        with self.assertRaises(SchedulerError) as raised:
            self.scheduler.request("GetRemainingTimeByUserDataRequest", userData="before",
                                   timeout=5)
        self.assertEqual(raised.exception.exception, "HostError")


class ExampleTest(unittest.TestCase):
    def test_example_shows_three_ticks(self):
        example = os.path.join(os.path.dirname(os.path.abspath(__file__)), "example.py")
        run = subprocess.run([sys.executable, example], capture_output=True, text=True,
                             timeout=30)
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertEqual(run.stdout.count("\ntick "), 3, run.stdout)
        self.assertIn("User data not found.", run.stdout)


if __name__ == "__main__":
    unittest.main()
