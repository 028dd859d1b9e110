"""tvl4700 starts against mendra: argument echo, start-up log, servers announced."""
from instrument import Instrument


def test_starts_and_logs_initialization_complete():
    with Instrument() as inst:
        inst.wait_ready()
        out = inst.tvl().output()
        lines = out.splitlines()
        assert lines[0] == "argv[1] = -can"
        assert "argv[3] = -skipBootload" in lines
        assert "Skipping Delfino Bootload" in lines
        assert inst.bus not in out.split("Meter starting up")[0]
        assert "Meter starting up" in out
        assert inst.tvl().running()
