#include <optional>
#include <string>
#include <vector>

#include "tests/unit/controller/controller_fixture.h"

namespace velmora::testing {
namespace {

class DialogsTest : public ControllerTest {
protected:
    void SetUp() override { launch(); }
    void answer(int button, std::string text = {}) {
        ASSERT_TRUE(fake.panels.pendingAlert);
        auto done = std::move(fake.panels.pendingAlert);
        fake.panels.pendingAlert = nullptr;
        done({button, std::move(text)});
    }
};

TEST_F(DialogsTest, ConfirmAnswersTrueOnlyForConfirmer) {
    const struct {
        int button;
        bool answer;
    } cases[] = {{0, true}, {1, false}, {-1, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.button);
        std::optional<bool> result;
        controller->runJavaScriptConfirm("Supprimer ce rendez-vous ?", [&](bool ok) { result = ok; });
        const auto& alert = fake.panels.alerts.back();
        EXPECT_EQ(alert.messageText, "Supprimer ce rendez-vous ?");
        EXPECT_EQ(alert.buttons, (std::vector<std::string>{"Confirmer", "Annuler"}));
        EXPECT_FALSE(alert.textField);
        EXPECT_FALSE(result);  // the page waits for the answer
        answer(c.button);
        EXPECT_EQ(result, c.answer);
    }
}

TEST_F(DialogsTest, PromptAnswersTheTextOrNull) {
    const struct {
        const char* name;
        std::optional<std::string> defaultText;
        std::string prefilled;
        int button;
        std::string typed;
        std::optional<std::string> answer;
    } cases[] = {
        {"default text kept", "Dupont", "Dupont", 0, "Dupont", "Dupont"},
        {"cleared field answers empty, not null", "Dupont", "Dupont", 0, "", ""},
        {"no default text", std::nullopt, "", 0, "Martin", "Martin"},
        {"cancel answers null", "Dupont", "Dupont", 1, "Dupont", std::nullopt},
        {"closed answers null", std::nullopt, "", -1, "", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        bool answered = false;
        std::optional<std::string> result;
        controller->runJavaScriptTextInput("Votre nom ?", c.defaultText, [&](std::optional<std::string> text) {
            answered = true;
            result = std::move(text);
        });
        const auto& alert = fake.panels.alerts.back();
        EXPECT_EQ(alert.buttons, (std::vector<std::string>{"Valider", "Annuler"}));
        EXPECT_EQ(alert.textField, c.prefilled);
        answer(c.button, c.typed);
        EXPECT_TRUE(answered);
        EXPECT_EQ(result, c.answer);
    }
}

TEST_F(DialogsTest, AlertHasOneDefaultButton) {
    bool done = false;
    controller->runJavaScriptAlert("Enregistré", [&] { done = true; });
    EXPECT_TRUE(fake.panels.alerts.back().buttons.empty());
    answer(0);
    EXPECT_TRUE(done);
}

TEST_F(DialogsTest, FileChooserFollowsTheRequest) {
    std::optional<std::vector<std::string>> chosen{{"unchanged"}};
    controller->runOpenPanel({true, false}, [&](auto files) { chosen = std::move(files); });
    EXPECT_TRUE(fake.panels.lastOpenMultiple);
    EXPECT_FALSE(fake.panels.lastOpenDirectories);
    fake.panels.pendingOpen(std::vector<std::string>{"/tmp/a.pdf", "/tmp/b.pdf"});
    EXPECT_EQ(chosen, (std::vector<std::string>{"/tmp/a.pdf", "/tmp/b.pdf"}));

    controller->runOpenPanel({false, true}, [&](auto files) { chosen = std::move(files); });
    EXPECT_FALSE(fake.panels.lastOpenMultiple);
    EXPECT_TRUE(fake.panels.lastOpenDirectories);
    fake.panels.pendingOpen(std::nullopt);
    EXPECT_FALSE(chosen);
}

TEST_F(DialogsTest, DownloadDestinationIsAskedWithTheSuggestedName) {
    struct NoDownload final : platform::Download {
        void setDelegate(platform::DownloadDelegate*) override {}
    } download;
    std::optional<std::string> destination{"unset"};
    controller->decideDestination(download, "facture-2026.txt", [&](auto path) { destination = std::move(path); });
    EXPECT_EQ(fake.panels.lastSuggestedName, "facture-2026.txt");
    fake.panels.pendingSave(std::nullopt);  // cancelled: the download is cancelled
    EXPECT_FALSE(destination);
}

}  // namespace
}  // namespace velmora::testing
