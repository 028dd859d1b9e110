"""A failing test shows the end of the output of every program it left
running (tvl4700, mendra, the stand-ins): what the instrument said is often
the reason."""
import pytest

import instrument

TAIL = 6000   # characters per program


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    outcome = yield
    report = outcome.get_result()
    if not report.failed:
        return
    for process in sorted(instrument.RUNNING, key=lambda p: p.name):
        try:
            text = process.output()
        except OSError:
            continue
        if len(text) > TAIL:
            text = "[...]\n" + text[-TAIL:]
        report.sections.append(("output of %s" % process.name, text))
