#!/usr/bin/env python3
"""The table of bench/rotating_disks: for each emulated drive, its model's
rotation speed and average access beside what blockmeter-report said."""
import json
import sys


def model_of(path):
    values = {}
    for line in open(path):
        key, _, value = line.strip().partition('=')
        values[key] = value
    return values


def main():
    folder, count = sys.argv[1], int(sys.argv[2])
    print('%-5s %-44s %-10s %7s %8s %7s %9s %9s %7s %-7s' %
          ('drive', 'model', 'class', 'rpm', 'measured', 'off', 'access', 'model', 'off', 'buffer'))
    worst_rpm = worst_access = 0.0
    told = 0
    for n in range(1, count + 1):
        model = model_of('%s/drive-%d.model' % (folder, n))
        report = json.load(open('%s/drive-%d.json' % (folder, n)))
        device = report['files'][0]['drives'][0]['device_model']
        rpm = float(model['rpm'])
        access = float(model['average_access_ms'])
        name = '%s rpm, %s B tracks, %s' % (model['rpm'], model['track_bytes'],
                                            'buffer' if model['track_buffer'] == 'on' else 'no buffer')
        rotation = device.get('rotation') or {}
        measured = rotation.get('measured_rpm')
        measured_access = device.get('average_access_ms')
        rpm_off = (measured / rpm - 1) * 100 if measured else float('nan')
        access_off = (measured_access / access - 1) * 100 if measured_access else float('nan')
        if device['behaves_like'] == 'rotating':
            told += 1
            worst_rpm = max(worst_rpm, abs(rpm_off))
            worst_access = max(worst_access, abs(access_off))
        print('%-5d %-44s %-10s %7.0f %8s %+6.1f%% %9s %9.2f %+6.1f%% %-7s' %
              (n, name, device['behaves_like'], rpm, '%.0f' % measured if measured else '-', rpm_off,
               '%.2f' % measured_access if measured_access else '-', access, access_off,
               device.get('track_buffer') or '-'))
    print('told rotating: %d of %d; largest miss: rotation %.1f %%, access %.1f %%' %
          (told, count, worst_rpm, worst_access))


if __name__ == '__main__':
    main()
