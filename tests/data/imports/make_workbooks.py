"""Writes the workbooks the table reader tests read into the folder given as the argument.

Workbooks of the two writer modules are skipped when the module is missing; the test skips
the cases that need them."""
import datetime
import os
import struct
import sys
import zipfile

out = sys.argv[1]
NS = 'xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" ' \
     'xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"'
REL = 'http://schemas.openxmlformats.org/officeDocument/2006/relationships'


def path(name):
    return os.path.join(out, name)


def package(name, sheet, target='worksheets/sheet1.xml', strings=None, compress=zipfile.ZIP_DEFLATED):
    """A minimal workbook by hand: one sheet, optional shared strings, no styles."""
    with zipfile.ZipFile(path(name), 'w', compress) as z:
        z.writestr('xl/workbook.xml', '<workbook %s><sheets><sheet name="Лист1" sheetId="1" r:id="rId1"/>'
                   '</sheets></workbook>' % NS)
        z.writestr('xl/_rels/workbook.xml.rels',
                   '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
                   '<Relationship Id="rId1" Type="%s/worksheet" Target="%s"/></Relationships>' % (REL, target))
        if strings is not None:
            z.writestr('xl/sharedStrings.xml', strings)
        if sheet is not None:
            z.writestr('xl/worksheets/sheet1.xml', sheet)


def sheet(rows):
    return '<worksheet %s><sheetData>%s</sheetData></worksheet>' % (NS, rows)


def hand_written():
    # Inline strings, rich runs with a phonetic run, cells and rows without references, an
    # absolute target, an error cell and a formula without a cached value.
    package('inline.xlsx', sheet(
        '<row><c t="inlineStr"><is><t>Фамилия</t></is></c><c t="inlineStr"><is><r><t>Им</t></r>'
        '<r><rPr><b/></rPr><t>я</t></r><rPh><t>x</t></rPh></is></c></row>'
        '<row r="3"><c r="A3" t="s"><v>99</v></c><c r="B3" t="e"><v>#DIV/0!</v></c><c r="C3"><f>A1</f></c><c r="D3" t="b"><v>1</v></c>'
        '<c t="str"><f>A1</f><v>текст</v></c></row>'),
        target='/xl/worksheets/sheet1.xml',
        strings='<sst %s><si><t>не тот</t></si></sst>' % NS)
    package('farcell.xlsx', sheet('<row r="1"><c r="A1"><v>1</v></c></row>'
                                  '<row r="1048576"><c r="A1048576"><v>2</v></c><c r="XFD1048576"><v>3</v></c></row>'))
    package('manyrows.xlsx', sheet(''.join('<row><c><v>%d</v></c></row>' % i for i in range(100001))))
    package('laughs.xlsx', '<?xml version="1.0"?><!DOCTYPE lolz [<!ENTITY lol "lol">'
            + ''.join('<!ENTITY lol%d "%s">' % (i, ('&lol%d;' % (i - 1) if i else '&lol;') * 10) for i in range(9))
            + ']>' + sheet('<row><c t="inlineStr"><is><t>&lol8;</t></is></c></row>'))
    package('broken.xlsx', sheet('<row><c><v>1</v></c></row>')[:-20])
    package('nosheet.xlsx', None)
    package('bomb.xlsx', None)
    with zipfile.ZipFile(path('bomb.xlsx'), 'a', zipfile.ZIP_DEFLATED, compresslevel=1) as z:
        with z.open('xl/worksheets/sheet1.xml', 'w', force_zip64=True) as entry:
            zeros = bytes(1 << 20)
            for _ in range(1024):
                entry.write(zeros)
    # 60 MB under a directory that claims 1 KB: only the bytes actually inflated can tell.
    package('liar.xlsx', None)
    with zipfile.ZipFile(path('liar.xlsx'), 'a', zipfile.ZIP_DEFLATED, compresslevel=1) as z:
        z.writestr('xl/worksheets/sheet1.xml', b'<worksheet><sheetData>' + b' ' * (60 << 20))
    with open(path('liar.xlsx'), 'r+b') as f:
        data = bytearray(f.read())
        local = data.rfind(b'PK\x03\x04')
        central = data.rfind(b'PK\x01\x02')
        struct.pack_into('<I', data, local + 22, 1024)
        struct.pack_into('<I', data, central + 24, 1024)
        f.seek(0)
        f.write(data)
    with zipfile.ZipFile(path('noworkbook.xlsx'), 'w') as z:
        z.writestr('docProps/app.xml', '<Properties/>')
    with open(path('ole.xlsx'), 'wb') as f:
        f.write(b'\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1' + bytes(4096))
    with open(path('notzip.xlsx'), 'wb') as f:
        f.write('Фамилия;Имя\n'.encode('utf-8'))
    with open(path('inline.xlsx'), 'rb') as f:
        whole = f.read()
    with open(path('truncated.xlsx'), 'wb') as f:
        f.write(whole[:len(whole) // 2])


def with_xlsxwriter():
    import xlsxwriter
    book = xlsxwriter.Workbook(path('xlsxwriter.xlsx'))
    first = book.add_worksheet('Сводка')
    first.write('A1', 'первый лист')
    s = book.add_worksheet('Группа')
    builtin = book.add_format({'num_format': 14})
    custom = book.add_format({'num_format': 'dd.mm.yyyy'})
    quoted = book.add_format({'num_format': '0.00" dm"'})
    s.write_row(0, 0, ['Фамилия', 'Дата рождения', 'Часы', 'Выдан'])
    s.write_string(1, 0, 'Иванова')
    s.write_datetime(1, 1, datetime.datetime(2001, 3, 5), builtin)
    s.write_number(1, 2, 72.5, quoted)
    s.write_datetime(1, 3, datetime.datetime(2024, 6, 30, 15, 45), custom)
    s.write_formula(2, 0, '=A2&"-2"', None, 'Иванова-2')
    s.write_formula(2, 2, '=C2*2', None, 145)
    s.write_boolean(2, 3, False)
    s.write_number(3, 2, 61, custom)
    s.write_number(4, 2, 60, custom)
    s.write_number(5, 2, 2958465, custom)
    s.write_number(6, 2, 2958466, custom)
    book.close()

    book = xlsxwriter.Workbook(path('wide.xlsx'))
    book.add_worksheet().write_row(0, 0, ['к%d' % i for i in range(300)])
    book.close()

    book = xlsxwriter.Workbook(path('rows.xlsx'), {'constant_memory': True})
    s = book.add_worksheet()
    for i in range(5000):
        s.write_number(i, 0, i)
    book.close()

    book = xlsxwriter.Workbook(path('date1904.xlsx'), {'date_1904': True})
    book.add_worksheet().write_datetime(0, 0, datetime.date(2020, 2, 29), book.add_format({'num_format': 14}))
    book.close()


def with_openpyxl():
    import openpyxl
    book = openpyxl.Workbook()
    s = book.active
    s.title = 'Список'
    s['A1'] = 'Список группы № 12'
    s.merge_cells('A1:E1')
    s.append([])
    s.append(['ФИО', 'Дата рождения', 'СНИЛС', None, 'Пол'])
    s.append(['Петров Пётр Петрович', datetime.date(1999, 12, 31), '112-233-445 95', None, 'м'])
    s['B4'].number_format = 'DD.MM.YYYY'
    s.append(['Сидорова Анна', None, None, None, 'ж'])
    s.append([])
    s.append(['Ёлкин Олег', 36526, 7, None, None])
    book.create_sheet('Пустой')
    book.save(path('openpyxl.xlsx'))


hand_written()
for writer in (with_xlsxwriter, with_openpyxl):
    try:
        writer()
    except ImportError as missing:
        print('skipped:', missing)
