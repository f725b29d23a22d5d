// DBIF_CompoundQueryCondition: an AND or OR node over two conditions, or a NOT node over one (its
// right side). The node owns clones of its operands, never the caller's objects; because clones
// share their records, a later change to the host's own condition also changes this node's text.
// A value handle over an explicitly shared record: copies and clone() share it, the setters change
// it in place, and the record deletes its operands with its last handle. Operands are filled into
// the node's template in one step, so a "%1" inside an operand's text stays text.
// Not thread-safe: one thread at a time.
#ifndef DBIF_COMPOUNDQUERYCONDITION_H
#define DBIF_COMPOUNDQUERYCONDITION_H

#include <QExplicitlySharedDataPointer>
#include <QSharedData>
#include <memory>

#include "dbif/DBIF_QueryCondition.h"
#include "dbif/DBIF_SingleColumnCondition.h"

class DBIF_EXPORT DBIF_CompoundQueryCondition : public DBIF_QueryCondition {
public:
    // Stores clones of both sides (a null side stays null).
    DBIF_CompoundQueryCondition(const DBIF_QueryCondition* left, Operator op,
                                const DBIF_QueryCondition* right);
    // Left side null, a clone of right; the form of Not.
    DBIF_CompoundQueryCondition(Operator op, const DBIF_QueryCondition* right);
    // Shares the record.
    DBIF_CompoundQueryCondition(const DBIF_CompoundQueryCondition& other) = default;
    DBIF_CompoundQueryCondition& operator=(const DBIF_CompoundQueryCondition& other) = default;
    ~DBIF_CompoundQueryCondition() override;

    // Delete the present side and store a clone of the given one (null leaves the side empty).
    // A condition that contains this node's record would make the tree a cycle: it is reported
    // through the assertion functions and the side stays unchanged.
    void setLeftSide(const DBIF_QueryCondition* left);
    void setRightSide(const DBIF_QueryCondition* right);
    void setOp(Operator op) { d->op = op; }

    // The node's own operands (null when absent); they stay owned by the node.
    const DBIF_QueryCondition* getLeftSide() const { return d->left.get(); }
    const DBIF_QueryCondition* getRightSide() const { return d->right.get(); }
    Operator getOp() const { return d->op; }

    // An absent operand renders as empty text.
    QString generateSelectionCriteria(const DBIF_Connection& connection) const override;
    DBIF_CompoundQueryCondition* clone() const override;
    // Both forward to the left side (when present), then to the right side.
    void addTableToSet(QSet<QString>& tables) const override;
    void columnSetFor(const QString& table, DBIF_UniqueStringList& columns) const override;

private:
    class SharedData : public QSharedData {
    public:
        std::unique_ptr<DBIF_QueryCondition> left;
        Operator op = And;
        std::unique_ptr<DBIF_QueryCondition> right;
    };

    // True when the condition is, or has among its operands, a node on this record.
    bool isPartOf(const DBIF_QueryCondition* condition) const;
    void setSide(std::unique_ptr<DBIF_QueryCondition>& side, const DBIF_QueryCondition* condition);

    QExplicitlySharedDataPointer<SharedData> d;
};

// Each builds a node from the addresses of its operands, which the node clones (and so shares).
DBIF_EXPORT DBIF_CompoundQueryCondition operator&&(DBIF_SingleColumnCondition left,
                                                   DBIF_SingleColumnCondition right);
DBIF_EXPORT DBIF_CompoundQueryCondition operator&&(DBIF_CompoundQueryCondition left,
                                                   DBIF_CompoundQueryCondition right);
DBIF_EXPORT DBIF_CompoundQueryCondition operator&&(DBIF_SingleColumnCondition left,
                                                   DBIF_CompoundQueryCondition right);
DBIF_EXPORT DBIF_CompoundQueryCondition operator&&(DBIF_CompoundQueryCondition left,
                                                   DBIF_SingleColumnCondition right);
DBIF_EXPORT DBIF_CompoundQueryCondition operator||(DBIF_SingleColumnCondition left,
                                                   DBIF_SingleColumnCondition right);
DBIF_EXPORT DBIF_CompoundQueryCondition operator||(DBIF_CompoundQueryCondition left,
                                                   DBIF_CompoundQueryCondition right);
DBIF_EXPORT DBIF_CompoundQueryCondition operator||(DBIF_SingleColumnCondition left,
                                                   DBIF_CompoundQueryCondition right);
DBIF_EXPORT DBIF_CompoundQueryCondition operator||(DBIF_CompoundQueryCondition left,
                                                   DBIF_SingleColumnCondition right);
DBIF_EXPORT DBIF_CompoundQueryCondition operator!(DBIF_SingleColumnCondition operand);
DBIF_EXPORT DBIF_CompoundQueryCondition operator!(DBIF_CompoundQueryCondition operand);

#endif
