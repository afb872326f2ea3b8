#include "edithistory.h"

#include "abstractfield.h"
#include "mzlog.h"
#include "reportpage.h"

#include <QMetaProperty>
#include <QUndoCommand>
#include <QUndoStack>
#include <algorithm>
#include <memory>
#include <vector>

namespace {

// Values as a step compares them: lists of numbers compare by value.
void registerComparators() {
    if (!QMetaType::hasRegisteredComparators<QList<double>>())
        QMetaType::registerComparators<QList<double>>();
    if (!QMetaType::hasRegisteredComparators<QList<quint8>>())
        QMetaType::registerComparators<QList<quint8>>();
}

bool unchanged(const EditHistory::Change& change) {
    return change.before == change.after;
}

// Changed properties of the page and its fields, back and forth.
class PropertyCommand : public QUndoCommand {
public:
    PropertyCommand(EditHistory* history, QList<EditHistory::Change> changes, const QString& text, int mergeId)
        : QUndoCommand(text), _history(history), _changes(std::move(changes)), _mergeId(mergeId) {}

    int id() const override { return _mergeId; }
    void redo() override { _history->apply(_changes, true); }
    void undo() override { _history->apply(_changes, false); }

    bool mergeWith(const QUndoCommand* other) override {
        const auto* next = static_cast<const PropertyCommand*>(other);
        if (next->_changes.size() != _changes.size())
            return false;
        for (int i = 0; i < _changes.size(); ++i) {
            if (next->_changes.at(i).target != _changes.at(i).target ||
                next->_changes.at(i).property != _changes.at(i).property)
                return false;
        }
        bool nothing = true;
        for (int i = 0; i < _changes.size(); ++i) {
            _changes[i].after = next->_changes.at(i).after;
            nothing = nothing && unchanged(_changes.at(i));
        }
        // Nudged there and back: no step is left.
        setObsolete(nothing);
        return true;
    }

private:
    EditHistory* _history;
    QList<EditHistory::Change> _changes;
    int _mergeId;
};

// Fields joining or leaving the page. While they are off the page the step owns them.
class FieldListCommand : public QUndoCommand {
public:
    FieldListCommand(ReportPage* page, const QList<AbstractField*>& fields, bool adding, const QString& text)
        : QUndoCommand(text), _page(page), _adding(adding) {
        QList<AbstractField*> ordered = fields;
        if (!adding) {
            std::sort(ordered.begin(), ordered.end(),
                      [page](AbstractField* a, AbstractField* b) { return page->indexOf(a) < page->indexOf(b); });
        }
        for (AbstractField* field : ordered) {
            _fields.append(field);
            _indexes.append(adding ? -1 : page->indexOf(field));
            // A new field is the step's until the step first adds it.
            if (adding && !field->page())
                _owned.emplace_back(field);
        }
    }

    void redo() override { _adding ? insert() : take(); }
    void undo() override { _adding ? take() : insert(); }

private:
    void insert() {
        if (!_page)
            return;
        for (int i = 0; i < _fields.size(); ++i) {
            AbstractField* field = _fields.at(i);
            if (!field)
                continue;
            release(field);
            _page->insertField(_indexes.at(i) < 0 ? _page->fields().size() : _indexes.at(i), field);
        }
    }

    void take() {
        if (!_page)
            return;
        // Indexes are remembered before any field goes, and taken from the back, so that putting
        // them back in ascending order restores the painting order.
        for (int i = 0; i < _fields.size(); ++i) {
            if (_fields.at(i) && _adding)
                _indexes[i] = _page->indexOf(_fields.at(i));
        }
        for (int i = _fields.size() - 1; i >= 0; --i) {
            AbstractField* field = _fields.at(i);
            if (field && _page->takeField(field))
                _owned.emplace_back(field);
        }
    }

    void release(AbstractField* field) {
        for (auto it = _owned.begin(); it != _owned.end(); ++it) {
            if (it->get() == field) {
                it->release();
                _owned.erase(it);
                return;
            }
        }
    }

    QPointer<ReportPage> _page;
    bool _adding;
    QList<QPointer<AbstractField>> _fields;
    QList<int> _indexes;
    std::vector<std::unique_ptr<AbstractField>> _owned;
};

} // namespace

EditHistory::EditHistory(ReportPage* page, QUndoStack* stack) : QObject(page), _stack(stack) {
    registerComparators();
    snapshot(page);
    for (AbstractField* field : page->fields())
        snapshot(field);
    connect(page, &ReportPage::pageChanged, this,
            [this](const QByteArray& property) { record(this->page(), property); });
    connect(page, &ReportPage::fieldChanged, this,
            [this](AbstractField* field, const QByteArray& property) { record(field, property); });
    connect(page, &ReportPage::fieldAdded, this, &EditHistory::onFieldAdded);
}

EditHistory::~EditHistory() {
    // The steps refer to the page and its fields, which go with this history.
    if (_stack)
        _stack->clear();
}

EditHistory* EditHistory::of(const ReportPage* page) {
    return page ? page->findChild<EditHistory*>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
}

ReportPage* EditHistory::page() const {
    return static_cast<ReportPage*>(parent());
}

void EditHistory::snapshot(QObject* target) {
    QHash<QByteArray, QVariant>& values = _values[target];
    const QMetaObject* meta = target->metaObject();
    for (int i = QObject::staticMetaObject.propertyCount(); i < meta->propertyCount(); ++i) {
        const QMetaProperty property = meta->property(i);
        values.insert(property.name(), property.read(target));
    }
    connect(target, &QObject::destroyed, this, &EditHistory::forget, Qt::UniqueConnection);
}

void EditHistory::forget(QObject* target) {
    _values.remove(target);
}

void EditHistory::onFieldAdded(AbstractField* field) {
    // A field put back by undo holds what it held when it left; a new one is read as it comes.
    if (!_values.contains(field))
        snapshot(field);
}

void EditHistory::record(QObject* target, const QByteArray& property) {
    QVariant& known = _values[target][property];
    const QVariant before = known;
    known = target->property(property.constData());
    if (_applying)
        return;
    if (_depth > 0) {
        for (Change& change : _open) {
            if (change.target == target && change.property == property) {
                change.after = known;
                return;
            }
        }
        _open.append(Change{target, property, before, known});
        return;
    }
    push({Change{target, property, before, known}}, QStringLiteral("Изменение"), NoMerge);
}

void EditHistory::beginGroup(const QString& text, int mergeId) {
    if (_depth++ == 0) {
        _groupText = text;
        _groupMerge = mergeId;
        _open.clear();
    }
}

void EditHistory::endGroup() {
    if (_depth == 0)
        return;
    if (--_depth > 0)
        return;
    push(std::exchange(_open, {}), _groupText, _groupMerge);
}

void EditHistory::push(QList<Change> changes, const QString& text, int mergeId) {
    changes.erase(std::remove_if(changes.begin(), changes.end(), unchanged), changes.end());
    if (changes.isEmpty() || !_stack)
        return;
    _stack->push(new PropertyCommand(this, std::move(changes), text, mergeId));
}

void EditHistory::apply(const QList<Change>& changes, bool forward) {
    const bool applying = std::exchange(_applying, true);
    // Backwards in reverse order, so that a property changed twice ends at its first value.
    for (int i = 0; i < changes.size(); ++i) {
        const Change& change = changes.at(forward ? i : changes.size() - 1 - i);
        if (!change.target) {
            MZ_LOG() << "An undo step refers to a field that no longer exists";
            continue;
        }
        change.target->setProperty(change.property.constData(), forward ? change.after : change.before);
    }
    _applying = applying;
}

void EditHistory::addFields(const QList<AbstractField*>& fields, const QString& text) {
    if (!fields.isEmpty() && _stack)
        _stack->push(new FieldListCommand(page(), fields, true, text));
}

void EditHistory::removeFields(const QList<AbstractField*>& fields, const QString& text) {
    QList<AbstractField*> present;
    for (AbstractField* field : fields) {
        if (field && field->page() == page())
            present << field;
    }
    if (!present.isEmpty() && _stack)
        _stack->push(new FieldListCommand(page(), present, false, text));
}

EditHistory::Group::Group(const ReportPage* page, const QString& text, int mergeId) : _history(EditHistory::of(page)) {
    if (_history)
        _history->beginGroup(text, mergeId);
}

EditHistory::Group::~Group() {
    if (_history)
        _history->endGroup();
}
