#!/usr/bin/python3
"""Writes the registry book or the FRDO table of a registry with python3-xlsxwriter: the same
cells, widths, heights and formats as orvane-export, as the yardstick of its benchmark.

    /usr/bin/python3 bench/exports/xlsxwriter_same.py REGISTRY.db (book|frdo) OUT.xlsx
"""
import re
import sqlite3
import sys

import xlsxwriter


def day(value, fmt):
    text = str(value or "")[:10]
    if not re.fullmatch(r"\d{4}-\d{2}-\d{2}", text):
        return ""
    y, m, d = text.split("-")
    return {"dd.MM.yyyy": f"{d}.{m}.{y}", "yyyy": y}[fmt]


def text(value):
    return "" if value is None else str(value)


def book(db, out):
    wb = xlsxwriter.Workbook(out, {"constant_memory": True})
    ws = wb.add_worksheet()
    head = wb.add_format({"border": 1, "text_wrap": True, "align": "center", "valign": "vcenter",
                          "font_name": "Calibri", "font_size": 10, "num_format": "@"})
    data = wb.add_format({"border": 1, "font_name": "Calibri", "font_size": 10, "num_format": "@",
                          "align": "center", "bold": False})
    widths = [4.29, 21.45, 14.82, 11.7, 14.3, 16.9, 16.9, 20.8, 16.9, 16.9]
    headers = ["№ п/п", "ФИО лица, получившего документ", "Номер бланка документа", "Рег. номер",
               "Дата выдачи документа", "Наименование профессии", "Наименование квалификации",
               "Дата и номер протокола аттестационной комиссии", "Подпись лица, выдающего документ",
               "Подпись лица, получившего документ"]
    for c, w in enumerate(widths):
        ws.set_column(c, c, w)
    ws.set_row(0, 70)
    for c, h in enumerate(headers):
        ws.write_string(0, c, h, head)
    rows = db.execute("SELECT fio1, fio2, fio3, attNumber, regNumber, issueDate, profession, qual, "
                      "protocolDate, protocolNumber FROM ProfDocuments WHERE IFNULL(isTemplate, 0) != 1 "
                      "ORDER BY fio1, fio2, fio3")
    for n, r in enumerate(rows, start=1):
        cells = [str(n), f"{text(r[0])} {text(r[1])} {text(r[2])}", text(r[3]), text(r[4]),
                 day(r[5], "dd.MM.yyyy"), text(r[6]), text(r[7]),
                 day(r[8], "dd.MM.yyyy") + " №" + text(r[9]), "", ""]
        for c, v in enumerate(cells):
            ws.write_string(n, c, v, data)
    wb.close()


FRDO = [("Вид документа", 50), ("Статус документа", 10), ("Подтверждение утраты", 7),
        ("Подтверждение обмена", 7), ("Подтверждение уничтожения", 7), ("Серия документа", 8),
        ("Номер документа", 8), ("Дата выдачи документа", 10), ("Регистрационный номер", 9),
        ("Программа профессионального обучения, направление подготовки", 9),
        ("Наименование программы профессионального обучения", 9),
        ("Наименование профессий рабочих, должностей служащих", 9),
        ("Присвоенный квалификационный разряд, класс, категория (при наличии)", 9),
        ("Год начала обучения", 10), ("Год окончания обучения", 10), ("Срок обучения, часов", 9),
        ("Фамилия получателя", 12), ("Имя получателя", 12), ("Отчество получателя", 12),
        ("Дата рождения получателя", 10), ("Пол получателя", 10), ("СНИЛС", 10),
        ("Гражданство получателя (код страны по ОКСМ)", 10), ("Форма обучения", 10),
        ("Источник финансирования обучения", 10),
        ("Форма получения образования на момент прекращения образовательных отношений", 10),
        ("Наименование документа об образовании (оригинала)", 10), ("Серия (оригинала)", 10),
        ("Номер (оригинала)", 10), ("Регистрационный N (оригинала)", 10), ("Дата выдачи (оригинала)", 10),
        ("Фамилия получателя (оригинала)", 10), ("Имя получателя (оригинала)", 10),
        ("Отчество получателя (оригинала)", 10), ("Номер документа для изменения", 10)]


def frdo_cells(r):
    dup = int(r["StateDuplicate"] or 0) >= 1
    confirm = lambda v: "Нет" if not dup and text(v) else text(v)
    sex = int(r["SexIsMale"] or 0)
    orig = lambda v: text(v) if dup else ""
    return [text(r["DocType"]), "Дубликат" if dup else "Оригинал", confirm(r["frdo18"]),
            confirm(r["frdo19"]), confirm(r["frdo20"]), text(r["DocSerial"]), text(r["DocNumber"]),
            day(r["issueDateFrdo"], "dd.MM.yyyy"), text(r["RegNumberFrdo"]), text(r["frdo13"]),
            text(r["frdo14"]), text(r["frdo15"]), text(r["frdo16"]), day(r["beginDate"], "yyyy"),
            day(r["endDate"], "yyyy"), str(int(r["studyCount"] or 0)), text(r["fio1"]), text(r["fio2"]),
            text(r["fio3"]), day(r["birthDateFrdo"], "dd.MM.yyyy"),
            "Муж" if sex > 0 else "Жен" if sex < 0 else "", re.sub(r"\D", "", text(r["snils"])),
            text(r["frdo21"]), text(r["frdo22"]), text(r["frdo23"]), text(r["frdo24"]),
            orig(r["DocNameOrig"]), orig(r["docSerialOrig"]), orig(r["docNumberOrig"]),
            orig(r["regNumberOrig"]), day(r["issueDateOrig"], "dd.MM.yyyy") if dup else "",
            orig(r["fio1orig"]), orig(r["fio2orig"]), orig(r["fio3orig"]), ""]


def frdo(db, out):
    wb = xlsxwriter.Workbook(out, {"constant_memory": True})
    ws = wb.add_worksheet()
    head = wb.add_format({"border": 1, "text_wrap": True, "align": "center", "valign": "vcenter"})
    data = wb.add_format({"border": 1, "num_format": "@"})
    for c, (h, w) in enumerate(FRDO):
        ws.set_column(c, c, w)
        ws.write_string(0, c, h, head)
    db.row_factory = sqlite3.Row
    rows = db.execute("SELECT * FROM ProfDocuments INNER JOIN ProfFrdo ON ProfDocuments.profId = "
                      "ProfFrdo.profId WHERE IFNULL(isTemplate, 0) != 1")
    for n, r in enumerate(rows, start=1):
        ws.set_row(n, 20)
        for c, v in enumerate(frdo_cells(r)):
            ws.write_string(n, c, v, data)
    wb.close()


if __name__ == "__main__":
    registry, kind, out = sys.argv[1:4]
    connection = sqlite3.connect(f"file:{registry}?mode=ro", uri=True)
    (book if kind == "book" else frdo)(connection, out)
