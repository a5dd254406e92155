# Records each host's task results with their wall times as JSON lines in the file that
# FLEET_RECORD names, so that the fleet's tests and benchmark assert on results, not on text.
from __future__ import absolute_import, division, print_function

__metaclass__ = type

import json
import os
import time

from ansible.plugins.callback import CallbackBase

DOCUMENTATION = r'''
name: fleet_record
type: aggregate
short_description: Each host's task results and wall times as JSON lines
description:
  - Appends one JSON object per host and task to the file that FLEET_RECORD names.
requirements:
  - enabled in callbacks_enabled
'''

# The result keys worth keeping: what the modules return, not Ansible's bookkeeping.
KEPT = ('msg', 'changed', 'changes', 'saved', 'sensor', 'parameters', 'rolled_back', 'diff',
        'may_stay_changed', 'save_unconfirmed')


class CallbackModule(CallbackBase):
    CALLBACK_VERSION = 2.0
    CALLBACK_TYPE = 'aggregate'
    CALLBACK_NAME = 'fleet_record'
    CALLBACK_NEEDS_ENABLED = True

    def __init__(self):
        super(CallbackModule, self).__init__()
        self._path = os.environ.get('FLEET_RECORD')
        self._started = {}

    def v2_runner_on_start(self, host, task):
        self._started[(host.get_name(), task._uuid)] = time.time()

    def _record(self, result, status):
        if not self._path:
            return
        host = result._host.get_name()
        started = self._started.pop((host, result._task._uuid), time.time())
        entry = dict(host=host, task=result._task.get_name(), status=status,
                     seconds=time.time() - started)
        entry.update((key, result._result[key]) for key in KEPT if key in result._result)
        with open(self._path, 'a') as record:
            record.write(json.dumps(entry) + '\n')

    def v2_runner_on_ok(self, result):
        self._record(result, 'changed' if result._result.get('changed') else 'ok')

    def v2_runner_on_failed(self, result, ignore_errors=False):
        self._record(result, 'failed')

    def v2_runner_on_unreachable(self, result):
        self._record(result, 'unreachable')

    def v2_runner_on_skipped(self, result):
        self._record(result, 'skipped')
