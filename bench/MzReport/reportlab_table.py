#!/usr/bin/python3
"""Draws the appendix table that bench_mztable printed, with reportlab, for comparison.

usage: /usr/bin/python3 reportlab_table.py PLAN.json ITERATIONS

PLAN.json (written by bench_mztable) holds the paper, the column widths, the header, the row
height, the first part's place and height, the continuation and the rows of 100 pages. The table
is a platypus Table of wrapped Paragraph cells flowing through two frames: the first part and the
continuation. Prints the median time per page and the time for all pages as JSON.
"""

import json
import os
import resource
import statistics
import sys
import time

import reportlab
from reportlab.lib import colors
from reportlab.lib.styles import ParagraphStyle
from reportlab.lib.units import mm
from reportlab.pdfbase import pdfmetrics
from reportlab.pdfbase.ttfonts import TTFont
from reportlab.platypus import BaseDocTemplate, Frame, PageTemplate, Paragraph, Table, TableStyle

FONT = "LiberationSerif"
FONT_FILE = "/usr/share/fonts/truetype/liberation/LiberationSerif-Regular.ttf"


def make_table(plan, rows):
    size = plan["fontSize"]
    left = ParagraphStyle("left", fontName=FONT, fontSize=size, leading=size * 1.15)
    centre = ParagraphStyle("centre", parent=left, alignment=1)
    styles = [left, centre, centre]
    data = [[Paragraph(text, styles[c]) for c, text in enumerate(plan["header"])]]
    for row in rows:
        data.append([Paragraph(text, styles[c]) for c, text in enumerate(row)])
    widths = [w * mm for w in plan["columnWidths"]]
    # The header has its height; data rows grow with their text.
    heights = [plan["headerHeight"] * mm] + [None] * len(rows)
    table = Table(data, colWidths=widths, rowHeights=heights, repeatRows=0)
    table.setStyle(TableStyle([
        ("GRID", (0, 0), (-1, -1), 0.25, colors.black),
        ("VALIGN", (0, 0), (-1, -1), "MIDDLE"),
        ("LEFTPADDING", (0, 0), (-1, -1), 0),
        ("RIGHTPADDING", (0, 0), (-1, -1), 0),
        ("TOPPADDING", (0, 0), (-1, -1), 0),
        ("BOTTOMPADDING", (0, 0), (-1, -1), 0),
    ]))
    return table


def frames(plan):
    page_height = plan["heightMm"]
    width = sum(plan["columnWidths"])
    first = Frame(plan["x"] * mm, (page_height - plan["y"] - plan["firstPartHeight"]) * mm, width * mm,
                  plan["firstPartHeight"] * mm, leftPadding=0, rightPadding=0, topPadding=0, bottomPadding=0,
                  id="first")
    # The continuation runs to the bottom of the sheet.
    second = Frame(plan["continuationX"] * mm, 0, width * mm, (page_height - plan["continuationY"]) * mm,
                   leftPadding=0, rightPadding=0, topPadding=0, bottomPadding=0, id="continuation")
    return [first, second]


def render(plan, rows, output):
    doc = BaseDocTemplate(output, pagesize=(plan["widthMm"] * mm, plan["heightMm"] * mm))
    doc.addPageTemplates([PageTemplate(id="appendix", frames=frames(plan))])
    doc.build([make_table(plan, rows)])


def first_frame_rows(plan, rows):
    first = frames(plan)[0]
    table = make_table(plan, rows)
    table.wrap(first._aW, first._aH)
    parts = table.split(first._aW, first._aH)
    return len(parts[0]._cellvalues) - 1 if parts else 0


def main():
    plan_path, iterations = sys.argv[1], int(sys.argv[2])
    with open(plan_path, encoding="utf-8") as f:
        plan = json.load(f)
    pdfmetrics.registerFont(TTFont(FONT, FONT_FILE))
    pages = plan["pages"]
    side = os.path.join(plan["folder"], "reportlab-side.pdf")
    render(plan, pages[0], side)  # warm up, as the engine's run does
    times = []
    for i in range(iterations):
        start = time.perf_counter()
        render(plan, pages[i % len(pages)], side)
        times.append((time.perf_counter() - start) * 1000.0)
    start = time.perf_counter()
    for rows in pages:
        render(plan, rows, os.path.join(plan["folder"], "reportlab-page.pdf"))
    batch = (time.perf_counter() - start) * 1000.0
    result = {
        "version": reportlab.Version,
        "sideMs": statistics.median(times),
        "batchMs": batch,
        "firstFrameRows": first_frame_rows(plan, pages[0]),
        "peakRssMb": round(resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024.0, 1),
    }
    json.dump(result, sys.stdout)


if __name__ == "__main__":
    main()
