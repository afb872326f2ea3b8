DROP VIEW IF EXISTS ViewProfDocuments;
CREATE VIEW ViewProfDocuments as
    SELECT profId, ifnull(fio1,'') ||' '||ifnull(fio2,'')||' '||ifnull(fio3,'') fio,
           REPLACE(qual, CHAR(10), ' ') AS qual, attNumber, regNumber, issueDate, editDate
    FROM ProfDocuments WHERE IFNULL(isTemplate, 0) != 1;
DROP VIEW IF EXISTS ViewProfDetails;
CREATE VIEW ViewProfDetails AS
    SELECT profId, col1, col2, col3 FROM(SELECT profId, name AS col1, count AS col2, rate AS col3, 1 AS order1, detId AS order2 FROM ProfDetails
        UNION
        SELECT Det.profId, 'ВСЕГО:' AS col1, SUM(IFNULL(count,0))AS col2, '' AS col3, 2 AS order1, 0 AS order2
        FROM ProfDetails Det INNER JOIN ProfDocuments Doc ON Det.profId=doc.ProfId
        WHERE IFNULL(hideTotalCountInAdd,0)=0 GROUP BY Det.profId ORDER BY order1, order2);
CREATE INDEX IF NOT EXISTS ProfDetails_profId ON ProfDetails(profId, detId);
CREATE INDEX IF NOT EXISTS ProfDocuments_attNumber ON ProfDocuments(attNumber);
CREATE INDEX IF NOT EXISTS ProfDocuments_profession ON ProfDocuments(profession);
CREATE INDEX IF NOT EXISTS ProfDocuments_prevEducation ON ProfDocuments(prevEducation);
CREATE INDEX IF NOT EXISTS ProfDocuments_profProgName ON ProfDocuments(profProgName);
CREATE INDEX IF NOT EXISTS ProfDocuments_name ON ProfDocuments(fio1, fio2);
CREATE INDEX IF NOT EXISTS ProfDocuments_regNumber ON ProfDocuments(regNumber);
CREATE INDEX IF NOT EXISTS ProfFrdo_snils ON ProfFrdo(snils);
CREATE INDEX IF NOT EXISTS DocumentHistory_profId ON DocumentHistory(profId, historyId);
CREATE INDEX IF NOT EXISTS DocumentHistory_changedAt ON DocumentHistory(changedAt);
