#pragma once

// Native mode's settings: automatic checks and their interval, the recording
// window recorded days are counted against, and whether the application
// opens in native mode. Read once when built; written only by "Save".

#include "native/screens/NativeUi.h"

class QCheckBox;
class QSpinBox;

namespace kvr::screens {

class NativeSettingsDialog : public NativeDialogBase {
    Q_OBJECT
public:
    explicit NativeSettingsDialog(QWidget* parent = nullptr);

    void save();

    QCheckBox* pollBox() const { return m_poll; }
    QSpinBox* intervalField() const { return m_interval; }
    QSpinBox* windowField() const { return m_window; }
    QCheckBox* nativeModeBox() const { return m_nativeMode; }

private:
    QCheckBox* m_poll = nullptr;
    QSpinBox* m_interval = nullptr;
    QSpinBox* m_window = nullptr;
    QCheckBox* m_nativeMode = nullptr;
};

} // namespace kvr::screens
