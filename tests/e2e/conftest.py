"""A failing test shows the end of the output of the programs it ran
(tvl4700, mendra, the stand-ins), whether they still run or were stopped
during the test: what the instrument said is often the reason."""
import pytest

import instrument

HEAD = 4000   # characters per program: how it started
TAIL = 6000   # and what it said last


def pytest_runtest_setup(item):
    del instrument.STOPPED[:]


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    outcome = yield
    report = outcome.get_result()
    if not report.failed:
        return
    outputs = list(instrument.STOPPED)
    for process in sorted(instrument.RUNNING, key=lambda p: p.name):
        try:
            outputs.append((process.name, process.output()))
        except OSError:
            pass
    for name, text in outputs:
        if len(text) > HEAD + TAIL:
            text = text[:HEAD] + "\n[...]\n" + text[-TAIL:]
        report.sections.append(("output of %s" % name, text))
