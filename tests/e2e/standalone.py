"""What the scripts that run the instrument by hand share (the benchmarks in
bench/ and tools/soak.py): their options, the build whose programs they start,
and the CPU time and memory of those programs.  The scripts put this folder on
sys.path themselves before importing it."""
import os


def parse_options(argv, defaults, values, switches=None):
    """Reads "-name VALUE" for each -name of values (VALUE converted by
    values[-name] and kept as settings["name"]) and "-name" alone for each
    -name of switches (kept as switches[-name], a (key, value) pair).
    Returns the defaults with those read, or None at anything else: the
    script then prints its usage."""
    settings = dict(defaults)
    args = list(argv)
    while args:
        a = args.pop(0)
        if a in values and args:
            settings[a[1:]] = values[a](args.pop(0))
        elif switches and a in switches:
            key, value = switches[a]
            settings[key] = value
        else:
            return None
    return settings


def use_build(build):
    """Makes the e2e modules start the programs of BUILD: call it before
    importing instrument."""
    os.environ["TVL_BUILD_DIR"] = build
    os.environ["TVL_SOURCE_DIR"] = os.environ.get(
        "TVL_SOURCE_DIR", os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))


def stat_cpu_seconds(path):
    """utime + stime of a process's or a thread's stat file, in seconds."""
    with open(path) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    return stat_cpu_seconds("/proc/%d/stat" % pid)


def resident_kb(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0
