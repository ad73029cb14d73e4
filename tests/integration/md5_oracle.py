#!/usr/bin/env python3
"""md5_file against md5sum on a hundred files of random sizes and contents (fixed seed).

usage: md5_oracle.py <scratch dir> <command that runs md5_file>...
"""
import os
import random
import shutil
import subprocess
import sys


def main():
    scratch, command = sys.argv[1], sys.argv[2:]
    shutil.rmtree(scratch, ignore_errors=True)
    os.makedirs(scratch)
    rng = random.Random(20261208)
    sizes = [rng.choice([rng.randrange(0, 200), rng.randrange(0, 70_000), rng.randrange(0, 3_000_000)])
             for _ in range(100)]
    paths = []
    for i, size in enumerate(sizes):
        path = os.path.join(scratch, "f%03d.bin" % i)
        with open(path, "wb") as f:
            f.write(rng.randbytes(size))
        paths.append(path)

    def digests(cmd):
        out = subprocess.run(cmd, capture_output=True, text=True, check=True).stdout
        return [line.split()[0] for line in out.splitlines() if line.strip()]

    ours = digests(command + paths)
    oracle = digests(["md5sum"] + paths)
    bad = [(p, s, o, e) for p, s, o, e in zip(paths, sizes, ours, oracle) if o != e]
    if len(ours) != len(paths) or bad:
        for p, s, o, e in bad:
            print("%s (%d bytes): md5_file %s, md5sum %s" % (p, s, o, e))
        print("got %d digests for %d files" % (len(ours), len(paths)))
        return 1
    shutil.rmtree(scratch)
    print("100 files agree with md5sum")
    return 0


if __name__ == "__main__":
    sys.exit(main())
