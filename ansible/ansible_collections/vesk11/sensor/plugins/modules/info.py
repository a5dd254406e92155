#!/usr/bin/python
# A sensor's identity and whole configuration, through vesk11-ctl dump.
from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
---
module: info
short_description: Read a radar sensor's identity and all its parameters
description:
  - Reads the identity (hardware serial, antenna, firmware, application) and every writable
    parameter of a vesk11 radar sensor on a serial line, with C(vesk11-ctl dump).
  - Returns them and sets them as the fact C(vesk11_sensor) for later tasks, for example to
    pin I(expect_serial) of M(vesk11.sensor.config) or to audit drift.
  - Never changes anything on the sensor.
  - Needs C(vesk11-ctl) on the managed host, in C(PATH) or at I(ctl_path).
version_added: "1.0.0"
author: vesk11-cli maintainers
extends_documentation_fragment:
  - vesk11.sensor.link
attributes:
  check_mode:
    support: full
    description: Reads the sensor in check mode too, since it writes nothing.
  diff_mode:
    support: none
  facts:
    support: full
notes:
  - With several sensors on one host, register the result instead of using the fact, which
    holds the last sensor read.
seealso:
  - module: vesk11.sensor.config
'''

EXAMPLES = r'''
- name: Identity and configuration
  vesk11.sensor.info:
    device: /dev/ttyUSB0

- name: Write only to the sensor just read
  vesk11.sensor.config:
    device: /dev/ttyUSB0
    expect_serial: "{{ vesk11_sensor.sensor.hw_serial }}"
    parameters:
      speed_limit_2_max: "{{ vesk11_sensor.parameters.speed_limit_1_max }}"
'''

RETURN = r'''
sensor:
  description: The sensor's identity.
  returned: always
  type: dict
  sample: {"hw_serial": 10597059, "hw_antenna": 2, "firmware": "11.4.2.7",
           "application": "1.6.0", "app_variant": 1, "app_type": 3}
parameters:
  description: Every writable parameter, name to value, as C(vesk11-ctl dump) writes them.
  returned: always
  type: dict
  sample: {"param_x": 0.25, "power_mode": 1, "speed_limit_enable": 1, "speed_limit_1_min": 0.0}
ansible_facts:
  description: The same under C(vesk11_sensor), with the C(device) read.
  returned: always
  type: dict
  contains:
    vesk11_sensor:
      description: C(device), C(sensor) and C(parameters).
      type: dict
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.vesk11.sensor.plugins.module_utils.ctl import (
    LINK_ARGUMENT_SPEC, Ctl, CtlFailure)


def main():
    module = AnsibleModule(argument_spec=LINK_ARGUMENT_SPEC, supports_check_mode=True)
    ctl = Ctl(module)
    try:
        document = ctl.run(['dump'])
    except CtlFailure as failure:
        module.fail_json(msg=failure.msg, changed=False)
    found = dict(sensor=document.get('sensor', {}), parameters=document.get('parameters', {}))
    facts = dict(vesk11_sensor=dict(found, device=ctl.device))
    module.exit_json(changed=False, ansible_facts=facts, **found)


if __name__ == '__main__':
    main()
