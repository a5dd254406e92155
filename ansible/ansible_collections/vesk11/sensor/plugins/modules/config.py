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
      - Values are numbers; text that reads whole as a number (as templates produce) is taken as
        that number. Integer parameters take integers within 32 bits, float parameters finite
        numbers.
    type: dict
    required: true
  save:
    description:
      - Save the configuration to the sensor's flash when something changed and every change was
        read back. Nothing is saved when nothing changed.
    type: bool
    default: false
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
    save: true

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
  description: Whether the sensor keeps values this run wrote (in check mode, whether it would).
  returned: always
  type: bool
changes:
  description: The parameters that changed (in check mode, that would change).
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
  sample: [{"name": "speed_limit_1_min", "group": 2000, "id": 451, "before": 0.0, "after": 12.5}]
saved:
  description: Whether the configuration was saved to flash in this run.
  returned: always
  type: bool
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
import math
import os

from ansible.module_utils.basic import AnsibleModule
from ansible.module_utils.six import integer_types, string_types
from ansible_collections.vesk11.sensor.plugins.module_utils.ctl import (
    LINK_ARGUMENT_SPEC, Ctl, CtlFailure)

DOCUMENT_FORMAT = 'vesk11-config/1'


def _number(name, value):
    """value as an int or a finite float; text that reads whole as a number counts as one."""
    number = value
    if isinstance(value, string_types):
        try:
            number = int(value, 10)
        except ValueError:
            try:
                number = float(value)
            except ValueError:
                raise ValueError('%s: %r is not a number' % (name, value))
    if isinstance(number, bool) or not isinstance(number, integer_types + (float,)):
        raise ValueError('%s: %r is not a number' % (name, value))
    if isinstance(number, float) and (math.isnan(number) or math.isinf(number)):
        raise ValueError('%s: %r is not finite' % (name, value))
    return number


def _document(module, parameters):
    """A configuration document of these parameters alone, in the module's temporary folder."""
    path = os.path.join(module.tmpdir, 'parameters.json')
    with open(path, 'w') as document:
        json.dump({'format': DOCUMENT_FORMAT, 'parameters': parameters}, document)
    return path


def _apply(module, ctl, parameters):
    words = ['apply', _document(module, parameters)]
    if module.check_mode:
        report = ctl.run(words + ['--check'], accept=(0, 1))
        report['changed'] = bool(report['changes'])
        return report
    return ctl.run(words + (['--save'] if module.params['save'] else []))


def _result(module, report):
    changes = report.get('changes', [])
    result = dict(changed=bool(report.get('changed')), changes=changes,
                  saved=bool(report.get('saved')))
    if 'rolled_back' in report and report['rolled_back']:
        result['rolled_back'] = report['rolled_back']
    if module._diff:
        result['diff'] = dict(before=dict((c['name'], c['before']) for c in changes),
                              after=dict((c['name'], c['after']) for c in changes))
    return result


def main():
    argument_spec = dict(LINK_ARGUMENT_SPEC,
                         parameters=dict(type='dict', required=True),
                         save=dict(type='bool', default=False),
                         expect_serial=dict(type='int'))
    module = AnsibleModule(argument_spec=argument_spec, supports_check_mode=True)
    try:
        parameters = dict((name, _number(name, value))
                          for name, value in module.params['parameters'].items())
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
