#!/usr/bin/python3
"""Draws the same certificates as the render tool with reportlab, for comparison.

    reportlab_certificates.py TEMPLATE.mzrpt REGISTRY.db OUTPUT.pdf ID [ID ...]

Reads the text and QR fields of the template, fills the common variables of each document from the
registry the way the program does, and draws every side of every document into one PDF (no
background, as on a real blank). Only the drawing is compared; the layout is the template's own.
"""
import json
import re
import sqlite3
import sys

from reportlab.graphics import renderPDF
from reportlab.graphics.barcode.qr import QrCodeWidget
from reportlab.graphics.shapes import Drawing
from reportlab.lib.pagesizes import A4, landscape
from reportlab.lib.styles import ParagraphStyle
from reportlab.lib.units import mm
from reportlab.pdfbase import pdfmetrics
from reportlab.pdfbase.ttfonts import TTFont
from reportlab.pdfgen import canvas
from reportlab.platypus import Paragraph

MONTHS = ["января", "февраля", "марта", "апреля", "мая", "июня", "июля", "августа", "сентября",
          "октября", "ноября", "декабря"]


def words(iso):
    if not iso or not re.match(r"^\d{4}-\d\d-\d\d$", iso):
        return ""
    y, m, d = iso.split("-")
    return "%02d %s %s" % (int(d), MONTHS[int(m) - 1], int(y))


def short(name):
    parts = (name or "").split()
    if len(parts) > 1:
        parts[-1] = parts[-1][:1].upper() + "."
    if len(parts) > 2:
        parts[-2] = parts[-2][:1].upper() + "." + parts[-1]
        parts.pop()
    return " ".join(parts)


def variables(db, doc_id):
    row = db.execute("SELECT * FROM ProfDocuments WHERE profId=?", (doc_id,)).fetchone()
    org = dict(db.execute("SELECT Name, Value FROM Variables").fetchall())
    full = "%s %s %s" % (row["fio1"] or "", row["fio2"] or "", row["fio3"] or "")
    return {
        "full_name": full, "full_name_short": short(full), "att_number": row["attNumber"] or "",
        "reg_number": row["regNumber"] or "", "issue_out": words(row["issueDate"]),
        "issue_out_digit": row["issueDate"] or "", "qual": row["qual"] or "",
        "profession": row["profession"] or "", "protocol_number": row["protocolNumber"] or "",
        "protocol_date": words(row["protocolDate"]), "startdate": words(row["startDate"]),
        "finishdate": words(row["finishDate"]), "prof_prog_name": row["profProgName"] or "",
        "certificate_type": "по должности служащего" if row["certificateType"] == 2 else "по профессии рабочего",
        "is_excellent": "с отличием" if row["isExcellent"] else "",
        "org_name": org.get("Data/OrgName_1", ""), "city": org.get("Data/City", ""),
        "boss_short": short(org.get("Data/Boss", "")), "boss2_short": short(org.get("Data/Boss_2", "")),
        "boss3_short": short(org.get("Data/Boss_3", "")),
    }


def fill(text, values):
    return re.sub(r"\$V\{([^}]*)\}", lambda m: values.get(m.group(1).strip().lower(), ""), text).replace("\\n", "\n")


def main():
    template_path, db_path, out_path = sys.argv[1:4]
    ids = [int(i) for i in sys.argv[4:]]
    template = json.load(open(template_path, encoding="utf-8"))
    pdfmetrics.registerFont(TTFont("Serif", "/usr/share/fonts/truetype/liberation/LiberationSerif-Regular.ttf"))
    width, height = landscape(A4)
    sides = template.get("pagesCount", 1)
    db = sqlite3.connect(db_path)
    db.row_factory = sqlite3.Row
    pdf = canvas.Canvas(out_path, pagesize=(width, height))
    for doc_id in ids:
        values = variables(db, doc_id)
        for side in range(sides):
            top = side * 210.0
            for field in template.get("textFields", []):
                if not (top <= field["y"] < top + 210.0):
                    continue
                text = fill(field.get("id", ""), values).replace("\n", "<br/>")
                style = ParagraphStyle("f", fontName="Serif", fontSize=12, leading=14,
                                       alignment=1 if field.get("alignFlags", 0) & 4 else 0)
                para = Paragraph(text, style)
                w, h = para.wrap(field["width"] * mm, field["height"] * mm)
                para.drawOn(pdf, field["x"] * mm, height - (field["y"] - top) * mm - h)
            for field in template.get("qrFields", []):
                if not (top <= field["y"] < top + 210.0):
                    continue
                side_mm = min(field["width"], field["height"])
                widget = QrCodeWidget(fill(field.get("id", ""), values), barLevel="H")
                x0, y0, x1, y1 = widget.getBounds()
                drawing = Drawing(side_mm * mm, side_mm * mm,
                                  transform=[side_mm * mm / (x1 - x0), 0, 0, side_mm * mm / (y1 - y0), 0, 0])
                drawing.add(widget)
                renderPDF.draw(drawing, pdf, field["x"] * mm, height - (field["y"] - top + side_mm) * mm)
            pdf.showPage()
    pdf.save()


if __name__ == "__main__":
    main()
