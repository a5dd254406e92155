#!/usr/bin/python
# Makes a sensor's parameters equal to the task's, through vesk11-ctl apply.
from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
---
module: config
short_description: Set a radar sensor's parameters, each read back, saved to flash on request
description:
  - Makes the named parameters of a vesk11 radar sensor on a serial line equal to I(parameters).
  - Runs C(vesk11-ctl apply) on the managed host, which reads the current values, writes only
    those that differ, reads each one back and, when a write fails, writes the values changed in
    this run back to what they were. Parameters not named are left as they are.
  - Idempotent, a second run with the same parameters changes nothing and reports C(changed=false).
  - Needs C(vesk11-ctl) on the managed host, in C(PATH) or at I(ctl_path).
version_added: "1.0.0"
author: vesk11-cli maintainers
extends_documentation_fragment:
  - vesk11.sensor.link
options:
  parameters:
    description:
      - "The parameters to set, name to value, for example C(speed_limit_1_min: 12.5)."
      - Names are those of C(vesk11-ctl) (see C(man vesk11-ctl)), or C(GROUP/ID), or
        C(GROUP/ID:f32) and C(GROUP/ID:i32) outside the catalogue.
      - Values are numbers; text in plain decimal or float syntax (as templates produce, for
        example C("12.5") or C("1e3")) is taken as that number; other text (C("1_000"), C("inf"),
        digits of other scripts) is refused. Integer parameters take integers within 32 bits,
        float parameters finite numbers.
    type: dict
    required: true
  save:
    description:
      - C(true) is I(save_when=changed), C(false) I(save_when=never).
    type: bool
  save_when:
    description:
      - When to save the configuration to the sensor's flash, after every change was read back.
      - C(never) (the default) leaves the changes in the sensor's RAM, lost at its next reboot.
      - C(changed) saves when this run changed something; a configuration written by an earlier
        run that did not save stays unsaved.
      - C(always) saves in every run, so the flash matches the RAM afterwards; the task then
        reports C(changed).
    type: str
    choices: [never, changed, always]
  expect_serial:
    description:
      - The hardware serial the sensor must have. When it has another, the task fails and
        nothing is written, which guards against a cable moved to the wrong port.
    type: int
attributes:
  check_mode:
    support: full
    description: Runs C(vesk11-ctl apply --check), which reads the sensor and writes nothing.
  diff_mode:
    support: full
    description: The changed parameters' values before and after.
notes:
  - Each run opens the line once for the identity and once for the parameters, with an
    exclusive lock, and restores the line's settings afterwards.
seealso:
  - module: vesk11.sensor.info
'''

EXAMPLES = r'''
- name: Speed limits of the crossing
  vesk11.sensor.config:
    device: /dev/ttyUSB0
    parameters:
      speed_limit_enable: 1
      speed_limit_1_min: 0.0
      speed_limit_1_max: 13.9
    save_when: changed

- name: Saved to flash even when an earlier run left the changes in RAM only
  vesk11.sensor.config:
    device: /dev/ttyUSB0
    parameters:
      speed_limit_enable: 1
    save_when: always

- name: Only on the sensor this port is recorded for
  vesk11.sensor.config:
    device: "{{ sensor_device }}"
    expect_serial: "{{ sensor_serial }}"
    parameters: "{{ sensor_parameters }}"

- name: Preview a change on every gateway (ansible-playbook --check --diff)
  vesk11.sensor.config:
    device: /dev/ttyUSB0
    parameters:
      power_mode: 0
'''

RETURN = r'''
changed:
  description:
    - Whether the sensor may differ from before the run (in check mode, whether it would) -
      values written and not rolled back, also a write or a save whose reply never came, and
      every save.
  returned: always
  type: bool
changes:
  description:
    - The parameters written (in check mode, that would change), each with C(confirmed) false
      when the write went out but no reply confirmed it.
  returned: always
  type: list
  elements: dict
  contains:
    name:
      description: The parameter's name.
      type: str
    group:
      description: Its group.
      type: int
    id:
      description: Its identifier in the group.
      type: int
    before:
      description: The value the sensor had.
      type: raw
    after:
      description: The value written.
      type: raw
    confirmed:
      description: Whether a reply confirmed the write.
      type: bool
  sample: [{"name": "speed_limit_1_min", "group": 2000, "id": 451, "before": 0.0, "after": 12.5,
            "confirmed": true}]
saved:
  description:
    - C(true) when the configuration was saved to flash in this run, C(false) when no save was
      sent, C(null) when the save was sent and no reply came, so the flash may hold the changes.
  returned: always
  type: bool
save_unconfirmed:
  description: With C(saved) null, why the save is not confirmed.
  returned: when saved is null
  type: str
may_stay_changed:
  description: On failure, the parameters that may keep a value this run wrote.
  returned: on failure, when there are any
  type: list
  elements: str
sensor:
  description: The sensor's identity, as C(vesk11-ctl info --json) gives it.
  returned: when the sensor answered
  type: dict
  sample: {"hw_serial": 10597059, "hw_antenna": 2, "firmware": "11.4.2.7",
           "application": "1.6.0", "app_variant": 1, "app_type": 3}
rolled_back:
  description:
    - On a failed write, the values written back as they were before this run, each with
      C(restored) telling whether its read-back confirmed it.
  returned: on failure after a write
  type: list
  elements: dict
'''

import json
import os
import re

from ansible.module_utils.basic import AnsibleModule
from ansible.module_utils.six import integer_types, string_types
from ansible_collections.vesk11.sensor.plugins.module_utils.ctl import (
    CTL_CONTRACT, LINK_ARGUMENT_SPEC, Ctl, CtlFailure, may_stay_changed)

# Plain ASCII decimal and float syntax; Python's int() and float() also take '1_000', other
# scripts' digits, 'inf' and 'nan'.
_INTEGER_TEXT = re.compile(r'[+-]?[0-9]+\Z')
_FLOAT_TEXT = re.compile(r'[+-]?([0-9]+\.?[0-9]*|\.[0-9]+)([eE][+-]?[0-9]+)?\Z')


def _number(value):
    """value as an int or a finite float, or None; text that reads whole as a number counts."""
    if isinstance(value, string_types):
        text = value.strip(' \t\r\n')
        if _INTEGER_TEXT.match(text):
            return int(text, 10)
        if not _FLOAT_TEXT.match(text):
            return None
        value = float(text)
    if isinstance(value, bool) or not isinstance(value, integer_types + (float,)):
        return None
    if isinstance(value, float) and (value != value or value in (float('inf'), float('-inf'))):
        return None
    return value


def _numbers(parameters):
    """The parameters with numbers for values; ValueError naming every value that is not one."""
    numbers = dict((name, _number(value)) for name, value in parameters.items())
    refused = ['%s: %r is not a finite number' % (name, parameters[name])
               for name in sorted(numbers) if numbers[name] is None]
    if refused:
        raise ValueError('; '.join(refused))
    return numbers


def _document(module, parameters):
    """A configuration document of these parameters alone, in the module's temporary folder."""
    path = os.path.join(module.tmpdir, 'parameters.json')
    with open(path, 'w') as document:
        json.dump({'format': CTL_CONTRACT['document_format'], 'parameters': parameters}, document)
    return path


def _save_when(params):
    """never, changed or always: save_when, else save: true as changed."""
    if params['save_when']:
        return params['save_when']
    return 'changed' if params['save'] else 'never'


def _apply(module, ctl, parameters):
    words = ['apply', _document(module, parameters)]
    save_when = _save_when(module.params)
    if module.check_mode:
        report = ctl.run(words + ['--check'], differs_ok=True)
        report['changed'] = bool(report['changes']) or save_when == 'always'
        return report
    if save_when == 'changed':
        words.append('--save')
    elif save_when == 'always':
        words += ['--save-when', 'always']
    try:
        return ctl.run(words)
    except CtlFailure as failure:
        if not failure.report:
            # No account at all of what the run did: it may have written anything.
            failure.report['changed'] = True
            failure.msg += '; vesk11-ctl gave no account of its writes: the sensor may have changed'
        raise


def _result(module, report):
    changes = report.get('changes', [])
    saved = report.get('saved', False)
    stay = may_stay_changed(report) if 'error' in report else []
    # Changed whenever the sensor may differ from before: a write or a save not known to have
    # failed (saved null: the save query went out, its reply never came).
    result = dict(changed=bool(report.get('changed') or stay) or saved is not False,
                  changes=changes, saved=saved)
    for key in ('rolled_back', 'save_unconfirmed'):
        if report.get(key):
            result[key] = report[key]
    if stay:
        result['may_stay_changed'] = stay
    if module._diff:
        result['diff'] = dict(before=dict((c['name'], c['before']) for c in changes),
                              after=dict((c['name'], c['after']) for c in changes))
    return result


def main():
    argument_spec = dict(LINK_ARGUMENT_SPEC,
                         parameters=dict(type='dict', required=True),
                         save=dict(type='bool'),
                         save_when=dict(type='str', choices=['never', 'changed', 'always']),
                         expect_serial=dict(type='int'))
    module = AnsibleModule(argument_spec=argument_spec, supports_check_mode=True,
                           mutually_exclusive=[('save', 'save_when')])
    try:
        parameters = _numbers(module.params['parameters'])
    except ValueError as error:
        module.fail_json(msg='parameters refused: %s' % error, changed=False)
    ctl = Ctl(module)
    sensor = None
    try:
        sensor = ctl.run(['info'])
        expected = module.params['expect_serial']
        if expected is not None and sensor.get('hw_serial') != expected:
            module.fail_json(msg='the sensor on %s has serial %s, not %s: nothing written'
                             % (ctl.device, sensor.get('hw_serial'), expected),
                             changed=False, changes=[], saved=False, sensor=sensor)
        result = _result(module, _apply(module, ctl, parameters))
    except CtlFailure as failure:
        result = _result(module, failure.report)
        module.fail_json(msg=failure.msg, sensor=sensor, **result)
    module.exit_json(sensor=sensor, **result)


if __name__ == '__main__':
    main()
