"""The SCPI suite of test_scpi_remote.py over RS-232: serial-link's client
end as a serial (ASRL) resource at 38400 baud, 2 stop bits, odd parity, the
framing the instrument's settings file gives its port."""
import pytest

from test_scpi_remote import *  # noqa: F401,F403 (the suite's fixtures and tests)


@pytest.fixture(scope="module")
def transport():
    return "serial"
