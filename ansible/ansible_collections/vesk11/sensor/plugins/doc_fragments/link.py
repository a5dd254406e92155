# The options every module of this collection shares: where the sensor is and how patiently to
# talk to it (module_utils/ctl.py's LINK_ARGUMENT_SPEC).
from __future__ import absolute_import, division, print_function

__metaclass__ = type


class ModuleDocFragment(object):
    DOCUMENTATION = r'''
options:
  device:
    description: The sensor's serial device, for example C(/dev/ttyUSB0).
    type: path
    required: true
  timeout:
    description:
      - The longest wait for input from the sensor in milliseconds, 1 to 60000.
      - A query's reply is awaited ten times as long, and at least one second.
    type: int
    default: 200
  retries:
    description:
      - How many times a query without a reply is sent again, 0 to 10.
    type: int
    default: 2
  ctl_path:
    description: The C(vesk11-ctl) program to run; by default the one found in C(PATH).
    type: path
'''
