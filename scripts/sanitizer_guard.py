"""Imported by every interpreter of the sanitizer run (from a .pth file of its environment).

It records in the run's log that the interpreter started, whether the
sanitizer runtime is mapped into it, and every copy of `tavrix` or
`tavrix_equity._engine` it loads. An import of a copy from outside the
sanitized build fails, so a child that would test the normal build instead
fails its test; at exit every mapped copy is checked again, which also covers
modules loaded by path rather than imported.
"""

import atexit
import os
import sys
from importlib.machinery import PathFinder

WATCHED = ("tavrix", "tavrix_equity._engine")


def _mapped_files():
    with open("/proc/self/maps") as maps:
        return {line.split(None, 5)[5].strip() for line in maps if len(line.split(None, 5)) == 6}


def _ours(path):
    name = os.path.basename(path)
    return name.endswith(".so") and (name.startswith("tavrix.") or name.startswith("_engine."))


class _Guard:
    def __init__(self, record, allowed):
        self._record = record
        self._allowed = allowed

    def find_spec(self, name, path=None, target=None):
        if name not in WATCHED:
            return None
        found = PathFinder.find_spec(name, path, target)
        if found is not None and found.origin:
            origin = os.path.realpath(found.origin)
            if not origin.startswith(self._allowed):
                self._record("wrong-module", name, origin)
                raise ImportError(f"the sanitizer run would load an unsanitized {name} from {origin}")
            self._record("load", name, origin)
        return found


def install(log, allowed):
    # The environment's site directory is reached twice (lib and lib64).
    if any(isinstance(finder, _Guard) for finder in sys.meta_path):
        return
    # Only the interpreter needs the preload; tools the tests run (compilers,
    # strace) would otherwise start with the sanitizer runtime too.
    os.environ.pop("LD_PRELOAD", None)
    allowed = tuple(os.path.realpath(a) + os.sep for a in allowed)

    def record(event, *details):
        with open(log, "a") as stream:
            stream.write(" ".join((str(os.getpid()), event, *details)) + "\n")

    mapped = _mapped_files()
    record("start", f"parent {os.getppid()}:", " ".join(sys.argv[:2])[:200].replace("\n", " "))
    if not any("libasan" in os.path.basename(path) for path in mapped):
        record("unsanitized", sys.executable)
    sys.meta_path.insert(0, _Guard(record, allowed))

    def check_mapped():
        for path in _mapped_files():
            if _ours(path) and not os.path.realpath(path).startswith(allowed):
                record("wrong-module", "mapped", path)

    atexit.register(check_mapped)
