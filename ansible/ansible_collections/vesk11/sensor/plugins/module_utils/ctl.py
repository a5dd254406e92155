# Runs vesk11-ctl for the modules of this collection and reads its --json objects: the sensor
# protocol lives in vesk11-ctl alone.
from __future__ import absolute_import, division, print_function

__metaclass__ = type

import json

from ansible.module_utils.common.validation import check_type_int

# What the collection takes from vesk11-ctl; scripts/test-ansible checks each value against
# `vesk11-ctl --version --json`.
CTL_CONTRACT = dict(
    document_format='vesk11-config/1',
    timeout_ms=dict(default=200, min=1, max=60000),
    retries=dict(default=2, min=0, max=10),
    exit_differs=1,
)


def _ranged(limits):
    """An argument type: an integer from limits['min'] to limits['max']."""
    def check(value):
        number = check_type_int(value)
        if not limits['min'] <= number <= limits['max']:
            raise ValueError('%d is out of range' % number)
        return number
    check.__name__ = 'an integer from %d to %d' % (limits['min'], limits['max'])
    return check


# The options every module shares: where the sensor is and how patiently to talk to it.
LINK_ARGUMENT_SPEC = dict(
    device=dict(type='path', required=True),
    timeout=dict(type=_ranged(CTL_CONTRACT['timeout_ms']),
                 default=CTL_CONTRACT['timeout_ms']['default']),
    retries=dict(type=_ranged(CTL_CONTRACT['retries']), default=CTL_CONTRACT['retries']['default']),
    ctl_path=dict(type='path'),
)

# The operator's words for vesk11-ctl's failure kinds (error.kind of its JSON); a kind not named
# here is reported with the kind itself.
FAILURE_WORDS = {
    'usage': 'vesk11-ctl refused its command line',
    'document': 'parameters refused',
    'input': 'cannot read the configuration document',
    'output': 'cannot write the output',
    'unavailable': 'sensor unavailable',
    'missing': 'device missing',
    'denied': 'permission denied',
    'locked': 'device locked',
    'not_serial': 'not a serial line',
    'io': 'I/O error on the line',
    'refused': 'sensor refused',
    'readback': 'read-back differs',
    'interrupted': 'vesk11-ctl interrupted',
    'software': 'vesk11-ctl failed',
}


class CtlFailure(Exception):
    """A run of vesk11-ctl that failed; report is its JSON object (empty if it gave none)."""

    def __init__(self, msg, report):
        super(CtlFailure, self).__init__(msg)
        self.msg = msg
        self.report = report


def may_stay_changed(report):
    """The names of the values an apply report says may differ from before the run: every change
    and every rollback entry not confirmed as written back."""
    restored = set(entry['name'] for entry in report.get('rolled_back', []) if entry.get('restored'))
    names = [change['name'] for change in report.get('changes', [])]
    names += [entry['name'] for entry in report.get('rolled_back', [])]
    stay = []
    for name in names:
        if name not in restored and name not in stay:
            stay.append(name)
    return stay


def failure_message(device, status, report):
    """The text an operator reads for a failed run: first what may stay changed, then what was
    rolled back, then what failed, where, and vesk11-ctl's reason."""
    error = report.get('error') or {}
    kind = error.get('kind', '')
    reason = error.get('message') or 'exit status %d without a reason' % status
    what = FAILURE_WORDS.get(kind, 'vesk11-ctl failed (%s, exit status %d)' % (kind or 'no kind', status))
    parts = []
    stay = may_stay_changed(report)
    if stay:
        parts.append('may stay changed: %s' % ', '.join(stay))
    if 'saved' in report and report['saved'] is None:
        parts.append('the save went out without a reply: the flash may hold the changes')
    restored = [entry['name'] for entry in report.get('rolled_back', []) if entry.get('restored')]
    if restored:
        parts.append('rolled back: %s' % ', '.join(restored))
    parts.append('%s on %s: %s' % (what, device, reason))
    return '; '.join(parts)


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

    def run(self, words, differs_ok=False):
        """Runs one command; its JSON object, or CtlFailure when it failed or gave no object.
        differs_ok accepts the status of a comparison that found differences."""
        argv = [self.binary] + self.link + words
        status, out, err = self.module.run_command(argv, environ_update={'LC_ALL': 'C'})
        try:
            report = json.loads(out)
        except ValueError:
            report = None
        if not isinstance(report, dict):
            got = 'no output' if not out.strip() else 'no JSON object'
            raise CtlFailure('vesk11-ctl %s on %s gave %s (exit status %d)%s'
                             % (words[0], self.device, got, status,
                                ': ' + err.strip() if err.strip() else ''), {})
        if status != 0 and not (differs_ok and status == CTL_CONTRACT['exit_differs']):
            raise CtlFailure(failure_message(self.device, status, report), report)
        return report
