#!/usr/bin/python3
"""Draws the page that bench_mzreport painted, with reportlab, for comparison.

usage: /usr/bin/python3 reportlab_page.py PLAN.json OUTPUT.pdf ITERATIONS

PLAN.json (written by bench_mzreport) holds the paper size, the filled texts with their field
rectangles and alignment, the QR contents and the background JPEG. Prints the median time per
side as JSON on standard output.
"""

import json
import resource
import statistics
import sys
import time

import reportlab
from reportlab.graphics import renderPDF
from reportlab.graphics.barcode.qr import QrCodeWidget
from reportlab.graphics.shapes import Drawing
from reportlab.lib.units import mm
from reportlab.pdfbase import pdfmetrics
from reportlab.pdfbase.ttfonts import TTFont
from reportlab.pdfgen import canvas

FONT = "LiberationSerif"
FONT_FILE = "/usr/share/fonts/truetype/liberation/LiberationSerif-Regular.ttf"
ALIGN_RIGHT, ALIGN_HCENTER = 0x2, 0x4
ALIGN_BOTTOM, ALIGN_VCENTER = 0x40, 0x80
ASCENT, DESCENT = 0.891, 0.216


def draw_text(c, page_height, size, item):
    x, y = item["x"] * mm, item["y"] * mm
    width, height = item["width"] * mm, item["height"] * mm
    lines = item["text"].split("\n")
    line_height = (ASCENT + DESCENT) * size
    content = line_height * len(lines)
    align = item["align"]
    top = y
    if align & ALIGN_VCENTER:
        top += max(0.0, (height - content) / 2)
    elif align & ALIGN_BOTTOM:
        top += max(0.0, height - content)
    for number, line in enumerate(lines):
        baseline = page_height - (top + number * line_height + ASCENT * size)
        if align & ALIGN_HCENTER:
            c.drawCentredString(x + width / 2, baseline, line)
        elif align & ALIGN_RIGHT:
            c.drawRightString(x + width, baseline, line)
        else:
            c.drawString(x, baseline, line)


def draw_code(c, page_height, item):
    side = min(item["width"], item["height"]) * mm
    widget = QrCodeWidget(item["text"], barLevel="H", barBorder=4)
    x0, y0, x1, y1 = widget.getBounds()
    drawing = Drawing(side, side, transform=[side / (x1 - x0), 0, 0, side / (y1 - y0), 0, 0])
    drawing.add(widget)
    renderPDF.draw(drawing, c, item["x"] * mm, page_height - item["y"] * mm - side)


def render(plan, output, background):
    page_width, page_height = plan["widthMm"] * mm, plan["heightMm"] * mm
    c = canvas.Canvas(output, pagesize=(page_width, page_height))
    if background:
        c.drawImage(plan["background"], 0, 0, page_width, page_height)
    size = plan["fontSize"]
    c.setFont(FONT, size)
    for item in plan["texts"]:
        draw_text(c, page_height, size, item)
    for item in plan["codes"]:
        draw_code(c, page_height, item)
    c.showPage()
    c.save()


def timed(plan, output, background, iterations):
    times = []
    for _ in range(iterations):
        start = time.perf_counter()
        render(plan, output, background)
        times.append((time.perf_counter() - start) * 1000.0)
    return statistics.median(times)


def main():
    plan_path, output, iterations = sys.argv[1], sys.argv[2], int(sys.argv[3])
    with open(plan_path, encoding="utf-8") as f:
        plan = json.load(f)
    pdfmetrics.registerFont(TTFont(FONT, FONT_FILE))
    render(plan, output, False)  # warm up, as the engine's run does
    result = {
        "version": reportlab.Version,
        "plainMs": timed(plan, output, False, iterations),
        "backgroundMs": timed(plan, output, True, iterations),
        "peakRssMb": round(resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024.0, 1),
    }
    json.dump(result, sys.stdout)


if __name__ == "__main__":
    main()
