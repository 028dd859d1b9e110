"""The README's commands on a fresh machine: its examples of talking to the
instrument run with what tools/install-deps.sh installs and get their
answers, and tools/run-tests.sh and tools/run-demo.sh configure build/
alike, so that running one after the other rebuilds nothing."""
import json
import os
import re
import shutil
import stat
import subprocess
import tempfile

import pytest

from instrument import SOURCE_DIR, Instrument


def read(path):
    with open(os.path.join(SOURCE_DIR, path)) as f:
        return f.read()


def readme_examples():
    """The README's shell lines that talk to the instrument through nc."""
    blocks = re.findall(r"```sh\n(.*?)```", read("README.md"), re.S)
    return [line for block in blocks for line in block.splitlines() if "| nc " in line]


def installed_packages():
    """The packages tools/install-deps.sh installs."""
    block = re.search(r"packages=\((.*?)\n\)", read("tools/install-deps.sh"), re.S).group(1)
    return set(block.split())


def package_of(command):
    """The Debian package that holds the command (None when dpkg cannot say)."""
    path = shutil.which(command)
    if not path or not shutil.which("dpkg-query"):
        return None
    real = os.path.realpath(path)
    # With merged /usr, dpkg knows the file under the name it shipped it.
    for candidate in (real, re.sub(r"^/usr/", "/", real)):
        found = subprocess.run(["dpkg-query", "-S", candidate], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        if found.returncode == 0:
            return found.stdout.decode().split(":")[0]
    return None


def test_the_readme_examples_run_with_what_the_setup_installs():
    examples = readme_examples()
    assert len(examples) == 2, examples
    for example in examples:
        command = example.split("|")[-1].split()[0]
        package = package_of(command)
        if package is None:
            pytest.skip("dpkg does not know where %s comes from here" % command)
        assert package in installed_packages(), "%s (package %s) is not installed by tools/install-deps.sh" % (
            command, package)

    scpi, web = examples
    assert " 5024" in scpi and " 6001" in web, examples
    with Instrument() as inst:
        inst.wait_ready()
        inst.wait_probes_ready(slots=(1, 2))

        def run(line):
            done = subprocess.run(["sh", "-c", line], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                  stdin=subprocess.DEVNULL, timeout=30)
            return done.returncode, done.stdout.decode("latin-1")

        status, out = run(scpi.replace(" 5024", " %d" % inst.scpi_port()))
        assert status == 0, out
        lines = [line for line in out.splitlines() if line.strip()]
        assert len(lines) == 2 and lines[0].count(",") >= 3, out   # *IDN?: maker, model, version, ...
        float(lines[1])                                             # :MEAS2:FLUX?
        status, out = run(web.replace(" 6001", " %d" % inst.json_port()))
        assert status == 0, out
        reply = json.loads(out)
        assert reply["probeState"] == 2, out


def write_script(path, text):
    with open(path, "w") as f:
        f.write("#!/bin/bash\n" + text)
    os.chmod(path, os.stat(path).st_mode | stat.S_IXUSR | stat.S_IXGRP | stat.S_IXOTH)


def configure_call(script):
    """How the script configures build/: the arguments of its cmake call,
    in a copy of the tools whose installer does nothing and whose cmake
    records its arguments and ends the script at the first build."""
    root = tempfile.mkdtemp(prefix="tvl-tree-")
    try:
        tools = os.path.join(root, "tools")
        os.makedirs(tools)
        for name in (script, "build-config.sh"):
            shutil.copy(os.path.join(SOURCE_DIR, "tools", name), tools)
        write_script(os.path.join(tools, "install-deps.sh"), "exit 0\n")
        stubs = os.path.join(root, "stubs")
        os.makedirs(stubs)
        log = os.path.join(root, "cmake.log")
        write_script(os.path.join(stubs, "cmake"),
                     'printf "%%q " "$@" >> "%s"; echo >> "%s"\n'
                     '[ "$1" = --build ] && exit 1\n'
                     "exit 0\n" % (log, log))
        env = dict(os.environ, PATH=stubs + os.pathsep + os.environ.get("PATH", ""))
        done = subprocess.run([os.path.join(tools, script)], env=env, stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL, timeout=60)
        with open(log) as f:
            calls = [line.strip() for line in f if "-B build " in line + " "]
        assert len(calls) == 1, (script, calls, done.stdout.decode("latin-1"))
        return calls[0]
    finally:
        shutil.rmtree(root, ignore_errors=True)


def test_the_tests_and_the_demo_configure_build_alike():
    tests, demo = configure_call("run-tests.sh"), configure_call("run-demo.sh")
    assert tests == demo
    assert "-DCMAKE_BUILD_TYPE=Release" in tests
