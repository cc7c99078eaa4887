#!/usr/bin/python3
"""Checks the log files that kvbasesys_log_tests wrote (fixture folder/clog):
line format, time stamps against the files' times, the 1,023-character cut,
roll-over to ".previous" and whole lines from two threads."""
import os
import re
import sys
import time

LINE = re.compile(r'^(?P<tag>ERR |WARN|INFO|DBG |\?\?\?\?)'
                  r'(?: (?P<ts>\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}) )?'
                  r'(?P<loc>[^()]{15,}\( *-?\d+\): )?(?P<msg>.*)$')
failures = []


def check(cond, what):
    if not cond:
        failures.append(what)


def lines_of(path):
    data = open(path, 'rb').read()
    check(data.endswith(b'\r\n'), '%s: last line not ended by CRLF' % path)
    check(data.count(b'\n') == data.count(b'\r\n'), '%s: a line break without CR' % path)
    return data.decode('cp1252').split('\r\n')[:-1]


def parse(path, line):
    m = LINE.match(line)
    check(m is not None, '%s: line does not match the format: %r' % (path, line[:120]))
    return m


def main():
    folder = os.path.join(sys.argv[1], 'clog')
    # Tags, time stamps and locations.
    path = os.path.join(folder, 'format.log')
    got = lines_of(path)
    want = [('ERR ', '       unit.src(  12): ', 'x=5'),
            ('WARN', '      other.cpp(3456): ', 'warn wide text'),
            ('INFO', '        plain.c(   7): ', 'info BEEF'),
            ('DBG ', 'a_very_long_source_file_name.cpp(   1): ', 'debug'),
            ('????', '            x.c(99999): ', 'both')]
    check(len(got) == len(want), 'format.log: %d lines, want %d' % (len(got), len(want)))
    mtime = os.path.getmtime(path)
    for line, (tag, loc, msg) in zip(got, want):
        m = parse(path, line)
        if not m:
            continue
        check(m['tag'] == tag and m['loc'] == loc and m['msg'] == msg, 'format.log: %r' % line)
        stamp = time.mktime(time.strptime(m['ts'], '%Y-%m-%d %H:%M:%S'))
        check(abs(stamp - mtime) < 120, 'format.log: time stamp %s far from the file time' % m['ts'])
    got = lines_of(os.path.join(folder, 'filtered.log'))
    check(len(got) == 1, 'filtered.log: %d lines' % len(got))
    m = parse('filtered.log', got[0]) if got else None
    check(bool(m) and m['tag'] == 'ERR ' and m['ts'] and not m['loc'] and m['msg'] == 'x=5',
          'filtered.log: %r' % got[:1])
    got = lines_of(os.path.join(folder, 'copy.log'))
    check(got == ['INFOfrom the original', 'INFOfrom the copy', 'INFOfrom the assigned', 'INFOoriginal again'],
          'copy.log: %r' % got)
    # The 1,023-character cut.
    got = lines_of(os.path.join(folder, 'long.log'))
    check(got == ['INFO' + 'm' * 1023, 'INFOafter'], 'long.log: cut wrong (%s)' % [len(l) for l in got])
    # Roll-over: the previous file holds the older lines up to the limit.
    cur = os.path.join(folder, 'roll.log')
    prev = cur + '.previous'
    check(os.path.exists(prev), 'roll.log.previous missing')
    if os.path.exists(prev):
        older, newer = lines_of(prev), lines_of(cur)
        check(os.path.getsize(prev) >= 1000, 'roll.log.previous smaller than the limit')
        check(os.path.getsize(prev) < 1000 + 60, 'roll.log.previous grew past one line over the limit')
        numbers = [int(parse(prev, l)['msg'].split()[1]) for l in older + newer]
        check(numbers == list(range(numbers[0], 70)) and numbers[-1] == 69, 'roll-over lost or repeated lines')
        check(all(len(l) == len(older[0]) for l in older + newer), 'roll-over cut a line')
    # Two writers: every line whole, each thread's lines in order.
    got = lines_of(os.path.join(folder, 'threads.log'))
    check(len(got) == 2000, 'threads.log: %d lines' % len(got))
    seen = {'A': [], 'B': []}
    for line in got:
        m = parse('threads.log', line)
        if not m:
            break
        mm = re.fullmatch(r'T([AB]) (\d{5}) (=+)', m['msg'])
        check(mm is not None and len(mm.group(3)) == 200, 'threads.log: broken line %r' % line[:80])
        if mm:
            seen[mm.group(1)].append(int(mm.group(2)))
            check(m['loc'] == '     worker.cpp(%4d): ' % int(mm.group(2)), 'threads.log: location %r' % m['loc'])
    check(seen['A'] == list(range(1000)) and seen['B'] == list(range(1000)), 'threads.log: lines lost or reordered')
    for f in failures[:20]:
        print('FAIL:', f)
    print('%d failures' % len(failures))
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
