// The program entry: creates the controller and hands control to the application loop.
#include "app/velmora.h"
#include "platform/gtk/run.h"

int main(int argc, char** argv) {
    return gtk::runApplication(argc, argv, [](platform::Platform& platform, const std::vector<std::string>& arguments) {
        return std::make_unique<velmora::Velmora>(platform, velmora::BuildConstants{VELMORA_PUBLIC_HOST}, arguments);
    });
}
