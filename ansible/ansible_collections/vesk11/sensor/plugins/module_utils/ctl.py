# Runs vesk11-ctl for the modules of this collection and reads its --json objects: the sensor
# protocol lives in vesk11-ctl alone.
from __future__ import absolute_import, division, print_function

__metaclass__ = type

import json

# The options every module shares: where the sensor is and how patiently to talk to it.
LINK_ARGUMENT_SPEC = dict(
    device=dict(type='path', required=True),
    timeout=dict(type='int', default=200),
    retries=dict(type='int', default=2),
    ctl_path=dict(type='path'),
)

# What each failure kind of vesk11-ctl means for the operator, by its exit status.
_FAILURES = {
    64: 'vesk11-ctl refused its command line',
    65: 'parameters refused',
    66: 'cannot read the configuration document',
    69: 'sensor unavailable',
    70: 'vesk11-ctl failed',
    74: 'I/O error on the line',
}
_REFUSED_KINDS = {
    'refused': 'sensor refused',
    'readback': 'read-back differs',
}


class CtlFailure(Exception):
    """A run of vesk11-ctl that failed; report is its JSON object (empty if it gave none)."""

    def __init__(self, msg, report):
        super(CtlFailure, self).__init__(msg)
        self.msg = msg
        self.report = report


def failure_message(device, status, report):
    """The text an operator reads for a failed run: what failed, where, and vesk11-ctl's reason."""
    error = report.get('error') or {}
    kind = error.get('kind', '')
    reason = error.get('message') or 'exit status %d without a reason' % status
    what = _REFUSED_KINDS.get(kind) if status == 76 else None
    what = what or _FAILURES.get(status, 'vesk11-ctl failed (exit status %d)' % status)
    msg = '%s on %s: %s' % (what, device, reason)
    rolled_back = [entry['name'] for entry in report.get('rolled_back', [])]
    if rolled_back:
        msg = 'rolled back: %s; %s' % (', '.join(rolled_back), msg)
    return msg


class Ctl(object):
    """vesk11-ctl bound to one sensor: the module's device, time-out and retries."""

    def __init__(self, module):
        self.module = module
        params = module.params
        if params['ctl_path']:
            self.binary = params['ctl_path']
        else:
            self.binary = module.get_bin_path('vesk11-ctl', required=True)
        self.device = params['device']
        self.link = ['--json', '--quiet', '--device', self.device,
                     '--timeout', str(params['timeout']), '--retries', str(params['retries'])]

    def run(self, words, accept=(0,)):
        """Runs one command; its JSON object, or CtlFailure for an exit status not accepted."""
        argv = [self.binary] + self.link + words
        status, out, err = self.module.run_command(argv, environ_update={'LC_ALL': 'C'})
        try:
            report = json.loads(out) if out.strip() else {}
        except ValueError:
            raise CtlFailure('vesk11-ctl gave no JSON object (exit status %d): %s'
                             % (status, (err or out).strip()), {})
        if status not in accept:
            raise CtlFailure(failure_message(self.device, status, report), report)
        return report
