#!/usr/bin/python3
"""The demo without a display: the real program under Xvfb on its defaults
(no VRK.ini: through the proxy localhost:8080 to the mirror localhost:8081,
which scripts/demo has started), driven as a user would (scenario.py), with a
screenshot after each step.

  demo_drive.py PROGRAM_DIR WORK_DIR DB_DIR SHOT_DIR
"""
import os
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import scenario  # noqa: E402
import vrkdrive  # noqa: E402


def main():
    prog, work, db, shots = (os.path.abspath(a) for a in sys.argv[1:5])
    procs = vrkdrive.Processes()
    desktop = None
    base = tempfile.mkdtemp(prefix="vrk-demo-")
    try:
        desktop = vrkdrive.Desktop(procs, base)
        log = open(os.path.join(work, "vrksearch.log"), "w")
        program = procs.start([os.path.join(prog, "vrksearch")], cwd=work, env=desktop.program_env(), stdout=log,
                              stderr=log)
        window = desktop.wait_window("Form1")
        seen = scenario.run(desktop, vrkdrive.Ui(), window, program, os.path.join(work, "Download"), db,
                            overwrite_question=False, shots=shots, say=lambda line: print("  " + line))
        print("  window closed; the program ended with %d; settings written to %s"
              % (seen["exit"], os.path.join(prog, "VRK.ini")))
        for path in seen.get("screenshots", []):
            print("  screenshot: " + os.path.relpath(path))
        return 0 if seen["exit"] == 0 else 1
    except Exception as e:
        print("demo failed: %s: %s (log: %s)" % (type(e).__name__, e, os.path.join(work, "vrksearch.log")),
              file=sys.stderr)
        if desktop is not None:
            try:
                desktop.screenshot(os.path.join(shots, "demo-failed.png"))
                print("screenshot of the failure: " + os.path.join(shots, "demo-failed.png"), file=sys.stderr)
            except Exception:
                pass
        return 1
    finally:
        procs.stop_all()
        if desktop is not None:
            desktop.close()


if __name__ == "__main__":
    sys.exit(main())
