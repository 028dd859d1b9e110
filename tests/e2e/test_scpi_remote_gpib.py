"""The SCPI suite of test_scpi_remote.py through the GPIB stand-in
(gpib-sim): the instrument at GPIB address 7, the client on the bus side
addressing it."""
import pytest

from test_scpi_remote import *  # noqa: F401,F403 (the suite's fixtures and tests)


@pytest.fixture(scope="module")
def transport():
    return "gpib"
