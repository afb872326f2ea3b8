# Writes rows.csv: a header and 1000 learners with distinct names (UTF-8, commas).
import sys
surnames = ["Иванов", "Петров", "Сидоров", "Кузнецов", "Смирнов", "Попов", "Васильев", "Ёлкин"]
names = ["Александр", "Дмитрий", "Максим", "Сергей", "Андрей", "Алексей"]
with open(sys.argv[1], "w", encoding="utf-8", newline="") as out:
    out.write("№,ФИО,Дата рождения,Оценка\r\n")
    for i in range(1, 1001):
        out.write("%d,%s-%d %s,%d-%02d-%02d,%d\r\n" % (i, surnames[i % 8], i, names[i % 6], 1980 + i % 25,
                                                      i % 12 + 1, i % 28 + 1, 3 + i % 3))
