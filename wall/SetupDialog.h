#pragma once

#include "wall/Config.h"

#include <QDialog>
#include <QHash>
#include <QTreeWidget>

#include <memory>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace kvr::wall {

namespace VideoWall {

class DisplayMap;
class LayoutPreview;
class Source;

// The source's cameras as site > device > camera; dragging an item carries
// the camera ids under it.
class CameraTree final : public QTreeWidget {
    Q_OBJECT
public:
    explicit CameraTree(QWidget* parent = nullptr);

    // The camera ids that a drag of `items` carries: each item's and those
    // under it, depth first, each once.
    static QStringList camerasOf(const QList<QTreeWidgetItem*>& items);

    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QList<QTreeWidgetItem*>& items) const override;
};

// Where the wall of one camera source is laid out and started or stopped:
// the source's cameras on the left, the map of displays, the editor of the
// selected display with its layout preview, and the run state at the bottom.
// Every edit is saved at once; closing saves nothing more and leaves a
// running wall running.
class SetupDialog final : public QDialog {
    Q_OBJECT
public:
    SetupDialog(std::shared_ptr<Source> source, QWidget* parent = nullptr);

    void buildTree();
    void filterTree(const QString& text);
    void selectScreen(const QString& key);
    // Saves, repaints and refreshes the run state after every edit.
    void changed();
    void updateRunState();
    // The camera ids of an item and everything under it, duplicates kept.
    QStringList refsOf(QTreeWidgetItem* item) const;
    void refreshEditor();
    // Puts the first id into the selected cell.
    void assignToSelected(const QList<QString>& ids);
    // The cameras of display `key` that its layout left out, held back.
    QStringList heldBack(const QString& key) const { return m_heldBack.value(key); }

    // What tests and the screenshot suite look at.
    const Config& config() const { return m_config; }
    QString selectedKey() const { return m_selectedKey; }
    const QHash<QString, QString>& titles() const { return m_titles; }
    CameraTree* tree() const { return m_tree; }
    QLineEdit* search() const { return m_search; }
    DisplayMap* map() const { return m_map; }
    LayoutPreview* preview() const { return m_preview; }
    QLabel* heading() const { return m_heading; }
    QLabel* note() const { return m_note; }
    // How cameras get onto a display.
    QLabel* hint() const { return m_hint; }
    QLabel* status() const { return m_status; }
    QCheckBox* enabledBox() const { return m_enabledBox; }
    QComboBox* layoutCombo() const { return m_layoutCombo; }
    QComboBox* qualityCombo() const { return m_qualityCombo; }
    QPushButton* fillButton() const { return m_fillButton; }
    QPushButton* clearButton() const { return m_clearButton; }
    QPushButton* forgetButton() const { return m_forgetButton; }
    QPushButton* startButton() const { return m_startButton; }
    QPushButton* stopButton() const { return m_stopButton; }

private:
    ScreenConfig* selected();
    void changeLayout(int index);
    void fillEmpty();
    void clearCells();
    void forgetDisplay();
    void startWall();
    void showSelection(const QString& key);
    // The keyboard's ways to what the pointer does in the tree: Enter and
    // Space do what a double-click does; the menu puts the chosen cameras
    // into the selected cell, as a drag onto it does.
    void openItem(QTreeWidgetItem* item);
    void showItemMenu(QTreeWidgetItem* item, const QPoint& at);

    std::shared_ptr<Source> m_source;
    Config m_config;
    // Per display: the cameras a layout with fewer cells left out, in their
    // order, taken back by a larger layout until the wall starts or the
    // dialog closes (a wheel or a slip on the layout must not lose them).
    QHash<QString, QStringList> m_heldBack;
    QHash<QString, QString> m_titles;
    QString m_selectedKey;
    CameraTree* m_tree = nullptr;
    QLineEdit* m_search = nullptr;
    DisplayMap* m_map = nullptr;
    LayoutPreview* m_preview = nullptr;
    QLabel* m_heading = nullptr;
    QLabel* m_note = nullptr;
    QLabel* m_hint = nullptr;
    QCheckBox* m_enabledBox = nullptr;
    QComboBox* m_layoutCombo = nullptr;
    QComboBox* m_qualityCombo = nullptr;
    QPushButton* m_fillButton = nullptr;
    QPushButton* m_clearButton = nullptr;
    QPushButton* m_forgetButton = nullptr;
    QLabel* m_status = nullptr;
    QPushButton* m_startButton = nullptr;
    QPushButton* m_stopButton = nullptr;
};

} // namespace VideoWall

} // namespace kvr::wall
