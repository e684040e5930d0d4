#pragma once
// Register bank and logo transfer buttons and the product configuration frame.

#include "app/app_context.h"

#include <QWidget>
#include <functional>
#include <memory>

class QCheckBox;
class QTimer;

namespace gp {

class ConfigLoad;
class ProductConfigView;
struct CfgCheck;

class ConfigToolsView : public QWidget {
    Q_OBJECT
  public:
    ConfigToolsView(AppContext& ctx, QWidget* parent = nullptr);
    ~ConfigToolsView() override;

    // File menu entries. Both start in the folder last used (kept in the
    // settings file); a load says what it will write and asks first.
    void openConfigFile();
    void saveConfigFile();
    // Told where a file was saved, for the status bar.
    std::function<void(const QString&)> onSaved;

    // The "Product Config" frame; the diagnostics refresh fills it.
    ProductConfigView* productConfig() const { return productConfig_; }
    void showFromRegisters();

  private:
    QString lastFolder() const;
    void rememberFolder(const QString& path);
    void loadLogo();
    void watchLoad();
    void refusedLoad(const CfgCheck& check);

    AppContext& ctx_;
    QCheckBox* saveAll_ = nullptr;
    ProductConfigView* productConfig_ = nullptr;
    std::unique_ptr<ConfigLoad> load_;
    QTimer* loadTimer_ = nullptr;
};

} // namespace gp
