"""Reads the ladders of all tools for one problem (lines "tool setting
seconds objective") and prints, for a relative objective gap of 1e-4 and
1e-6, each tool's fastest fit that reached it. The optimum is taken as the
lowest objective any fit reached.

    python3 summarise.py problem < ladders
"""
import sys


def main():
    name = sys.argv[1]
    runs = []
    for line in sys.stdin:
        tool, setting, secs, obj = line.split()
        runs.append((tool, float(setting), float(secs), float(obj)))
    best = min(r[3] for r in runs)
    tools = ["dovex", "glmnet", "saga"]
    for gap in (1e-4, 1e-6):
        cells = []
        times = {}
        for tool in tools:
            ok = [r[2] for r in runs if r[0] == tool and (r[3] - best) / abs(best) <= gap]
            times[tool] = min(ok) if ok else None
            cells.append(f"{times[tool]:.3f}" if ok else "not reached")
        ratios = []
        for tool in tools[1:]:
            if times["dovex"] and times[tool]:
                ratios.append(f"{times[tool] / times['dovex']:.2f}")
            else:
                ratios.append("-")
        print(f"| {name} | {gap:g} | " + " | ".join(cells) + " | " + " | ".join(ratios) + " |")


main()
