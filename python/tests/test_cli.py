"""motbox.cli runs a command line in this process as the program runs it as a process of its own."""

import os
import random
import re
import subprocess
import threading

import pytest

import motbox

EXAMPLES = os.path.join(os.environ.get("MOTBOX_SOURCE_DIR", "."), "examples")
BINARIES = {"motbox": os.environ.get("MOTBOX_BIN"), "motbox-delta": os.environ.get("MOTBOX_DELTA_BIN")}


@pytest.fixture(scope="module")
def inputs(tmp_path_factory):
    """The first eight example promoters, 150 nt each, and the four bases alone."""
    d = tmp_path_factory.mktemp("inputs")
    entries, name, seq = [], None, ""
    with open(os.path.join(EXAMPLES, "dm3_upstream_20.fa")) as f:
        for line in f:
            if line.startswith(">"):
                if name:
                    entries.append((name, seq))
                name, seq = line.strip(), ""
            else:
                seq += line.strip()
    entries.append((name, seq))
    (d / "small.fa").write_text("".join(f"{n}\n{s[:150]}\n" for n, s in entries[:8]))
    (d / "acgt.alph").write_text("Nucleotide\nA\nC\nG\nT\n")
    return d


def without_estimates(text):
    """The meter's time estimates, which differ from run to run, as hh:mm:ss."""
    return re.sub(r"[0-9][0-9]:[0-9][0-9]:[0-9][0-9]", "hh:mm:ss", text)


def without_user_time(text):
    return "".join(line for line in text.splitlines(True) if not line.startswith("User time"))


def files_of(directory):
    return {p: without_user_time(open(os.path.join(directory, p)).read()) for p in sorted(os.listdir(directory))}


def random_case(rng, program):
    """A random small command line: one box, or two boxes with a spacer (and Delta for motbox-delta)."""
    quorum = str(rng.choice([75, 88, 100]))
    if program == "motbox" and rng.random() < 0.4:
        length = rng.randint(5, 8)
        return [quorum, "1", str(length), str(length), str(rng.randint(0, 1))]
    box = rng.randint(3, 5)
    low, delta = rng.randint(0, 3), rng.randint(0, 2)
    # motbox-delta needs room for one window of 2 Delta + 1 lengths.
    spacer = [str(low), str(low + 2 * delta + rng.randint(0, 3))]
    if program == "motbox-delta":
        spacer.append(str(delta))
    return [quorum, "2", str(2 * box), str(2 * box), "1", str(box), str(box), "0", *spacer,
            str(box), str(box), str(rng.randint(0, 1))]


def run_both(inputs, tmp_path, program, options, parameters, capfdbinary):
    """The program as a process and motbox.cli in this process, each in a directory of its own."""
    args = [*options, str(inputs / "acgt.alph"), str(inputs / "small.fa"), "res", *parameters]
    process_dir, here_dir = tmp_path / "process", tmp_path / "here"
    process_dir.mkdir()
    here_dir.mkdir()
    run = subprocess.run([BINARIES[program], *args], cwd=process_dir, capture_output=True)
    # Bytes as written: the meter's carriage returns stay.
    expected = subprocess.CompletedProcess(run.args, run.returncode, run.stdout.decode("latin-1"),
                                           run.stderr.decode("latin-1"))
    cwd = os.getcwd()
    os.chdir(here_dir)
    try:
        capfdbinary.readouterr()
        try:
            status, refusal = motbox.cli([program, *args]), None
        except ValueError as e:
            status, refusal = 1, str(e)
        out, err = (stream.decode("latin-1") for stream in capfdbinary.readouterr())
    finally:
        os.chdir(cwd)
    return expected, (status, refusal, out, err), files_of(process_dir), files_of(here_dir)


@pytest.mark.parametrize("program", ["motbox", "motbox-delta"])
@pytest.mark.parametrize("seed", range(6))
def test_cli_writes_what_the_program_writes(inputs, tmp_path, capfdbinary, program, seed):
    rng = random.Random(seed * 31 + len(program))
    options = rng.choice([[], ["-t", "1"], ["-t", "3"], ["-t", "2", "--both-strands"]])
    expected, (status, refusal, out, err), process_files, here_files = run_both(
        inputs, tmp_path, program, options, random_case(rng, program), capfdbinary)
    assert refusal is None, refusal
    assert status == expected.returncode == 0
    assert without_user_time(out) == without_user_time(expected.stdout)
    assert without_estimates(err) == without_estimates(expected.stderr)
    assert here_files == process_files
    assert any("Nb models: " in text for text in here_files.values())


@pytest.mark.parametrize("program, parameters, message", [
    ("motbox", ["100", "2", "8", "8", "0", "4", "4", "0", "6", "2", "4", "4", "0"],
     ">> Error: spacer 1: maximum length 2 is lower than minimum length 6"),
    ("motbox-delta", ["100", "2", "8", "8", "0", "4", "4", "0", "2", "6", "-1", "4", "4", "0"],
     ">> Error: spacer 1: negative Delta -1"),
])
def test_a_refusal_raises_value_error_with_the_program_message(inputs, tmp_path, capfdbinary, program, parameters,
                                                               message):
    expected, (status, refusal, out, err), _, _ = run_both(inputs, tmp_path, program, [], parameters, capfdbinary)
    assert expected.returncode == 1
    assert refusal == message
    assert expected.stderr.endswith(message + "\n")
    assert without_estimates(err + refusal + "\n") == without_estimates(expected.stderr)


def test_help_returns_zero_and_bad_programs_are_refused(capfdbinary):
    assert motbox.cli(["motbox", "--help"]) == 0
    assert b"Options, before ALPHABET" in capfdbinary.readouterr().out
    for bad in ([], ["motbox-gamma", "--help"]):
        with pytest.raises(ValueError):
            motbox.cli(bad)


def test_two_threads_at_once_write_what_they_write_one_after_the_other(inputs, tmp_path, capfdbinary):
    params = {"a": ["100", "2", "10", "10", "1", "5", "5", "0", "2", "6", "5", "5", "1"],
              "b": ["88", "1", "7", "7", "1"]}
    def run(name, directory):
        motbox.cli(["motbox", "-t", "1", str(inputs / "acgt.alph"), str(inputs / "small.fa"),
                    str(directory / f"{name}.txt"), *params[name]])
    serial, parallel = tmp_path / "serial", tmp_path / "parallel"
    serial.mkdir()
    parallel.mkdir()
    for name in params:
        run(name, serial)
    threads = [threading.Thread(target=run, args=(name, parallel)) for name in params]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    capfdbinary.readouterr()
    assert files_of(parallel) == files_of(serial)
    assert len(files_of(serial)) == 2
