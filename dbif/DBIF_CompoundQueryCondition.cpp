// DBIF_CompoundQueryCondition: AND/OR/NOT nodes, their rendering and reports, and the operators
// that build them.
#include "dbif/DBIF_CompoundQueryCondition.h"

#include "dbif/DBIF_Utilities.h"

namespace {

std::unique_ptr<DBIF_QueryCondition> cloneOf(const DBIF_QueryCondition* condition) {
    return std::unique_ptr<DBIF_QueryCondition>(condition != nullptr ? condition->clone() : nullptr);
}

QString textOf(const DBIF_QueryCondition* condition, const DBIF_Connection& connection) {
    return condition != nullptr ? condition->generateSelectionCriteria(connection) : QString();
}

}  // namespace

DBIF_CompoundQueryCondition::DBIF_CompoundQueryCondition(const DBIF_QueryCondition* left, Operator op,
                                                         const DBIF_QueryCondition* right)
    : d(new SharedData) {
    d->left = cloneOf(left);
    d->op = op;
    d->right = cloneOf(right);
}

DBIF_CompoundQueryCondition::DBIF_CompoundQueryCondition(Operator op, const DBIF_QueryCondition* right)
    : DBIF_CompoundQueryCondition(nullptr, op, right) {}

DBIF_CompoundQueryCondition::~DBIF_CompoundQueryCondition() = default;

bool DBIF_CompoundQueryCondition::isPartOf(const DBIF_QueryCondition* condition) const {
    const auto* node = dynamic_cast<const DBIF_CompoundQueryCondition*>(condition);
    if (node == nullptr)
        return false;
    return node->d == d || isPartOf(node->d->left.get()) || isPartOf(node->d->right.get());
}

void DBIF_CompoundQueryCondition::setSide(std::unique_ptr<DBIF_QueryCondition>& side,
                                          const DBIF_QueryCondition* condition) {
    if (!assert0(!isPartOf(condition), __FILE__, __LINE__,
                 QStringLiteral("A compound condition cannot contain itself")))
        return;
    // Cloned before the old side goes, so passing a side of this node is safe.
    side = cloneOf(condition);
}

void DBIF_CompoundQueryCondition::setLeftSide(const DBIF_QueryCondition* left) {
    setSide(d->left, left);
}

void DBIF_CompoundQueryCondition::setRightSide(const DBIF_QueryCondition* right) {
    setSide(d->right, right);
}

QString DBIF_CompoundQueryCondition::generateSelectionCriteria(const DBIF_Connection& connection) const {
    const QString right = textOf(d->right.get(), connection);
    switch (d->op) {
        case And:
            return QStringLiteral("(%1 AND %2)").arg(textOf(d->left.get(), connection), right);
        case Or:
            return QStringLiteral("(%1 OR %2)").arg(textOf(d->left.get(), connection), right);
        case Not:
            return QStringLiteral("(NOT %1)").arg(right);
        default:
            return QString();
    }
}

DBIF_CompoundQueryCondition* DBIF_CompoundQueryCondition::clone() const {
    return new DBIF_CompoundQueryCondition(*this);
}

void DBIF_CompoundQueryCondition::addTableToSet(QSet<QString>& tables) const {
    if (d->left)
        d->left->addTableToSet(tables);
    if (d->right)
        d->right->addTableToSet(tables);
}

void DBIF_CompoundQueryCondition::columnSetFor(const QString& table, DBIF_UniqueStringList& columns) const {
    if (d->left)
        d->left->columnSetFor(table, columns);
    if (d->right)
        d->right->columnSetFor(table, columns);
}

DBIF_CompoundQueryCondition operator&&(DBIF_SingleColumnCondition left, DBIF_SingleColumnCondition right) {
    return DBIF_CompoundQueryCondition(&left, And, &right);
}

DBIF_CompoundQueryCondition operator&&(DBIF_CompoundQueryCondition left, DBIF_CompoundQueryCondition right) {
    return DBIF_CompoundQueryCondition(&left, And, &right);
}

DBIF_CompoundQueryCondition operator&&(DBIF_SingleColumnCondition left, DBIF_CompoundQueryCondition right) {
    return DBIF_CompoundQueryCondition(&left, And, &right);
}

DBIF_CompoundQueryCondition operator&&(DBIF_CompoundQueryCondition left, DBIF_SingleColumnCondition right) {
    return DBIF_CompoundQueryCondition(&left, And, &right);
}

DBIF_CompoundQueryCondition operator||(DBIF_SingleColumnCondition left, DBIF_SingleColumnCondition right) {
    return DBIF_CompoundQueryCondition(&left, Or, &right);
}

DBIF_CompoundQueryCondition operator||(DBIF_CompoundQueryCondition left, DBIF_CompoundQueryCondition right) {
    return DBIF_CompoundQueryCondition(&left, Or, &right);
}

DBIF_CompoundQueryCondition operator||(DBIF_SingleColumnCondition left, DBIF_CompoundQueryCondition right) {
    return DBIF_CompoundQueryCondition(&left, Or, &right);
}

DBIF_CompoundQueryCondition operator||(DBIF_CompoundQueryCondition left, DBIF_SingleColumnCondition right) {
    return DBIF_CompoundQueryCondition(&left, Or, &right);
}

DBIF_CompoundQueryCondition operator!(DBIF_SingleColumnCondition operand) {
    return DBIF_CompoundQueryCondition(Not, &operand);
}

DBIF_CompoundQueryCondition operator!(DBIF_CompoundQueryCondition operand) {
    return DBIF_CompoundQueryCondition(Not, &operand);
}
