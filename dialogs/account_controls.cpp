#include "dialogs/account_controls.h"

#include "account/configuration_values.h"

ServerPreset presetOf(const OAuthProvider* provider)
{
    if (provider == nullptr)
        return ServerPreset::Other;
    return provider->id == OAuthProviderId::Google ? ServerPreset::Google : ServerPreset::Microsoft;
}

const OAuthProvider* providerOfPreset(ServerPreset preset)
{
    switch (preset) {
    case ServerPreset::Google:
        return findProvider(OAuthProviderId::Google);
    case ServerPreset::Microsoft:
        return findProvider(OAuthProviderId::Microsoft);
    case ServerPreset::Other:
        break;
    }
    return nullptr;
}

void AccountControls::chooseSecurity(ConnectionSecurity chosen)
{
    security.select(chosen);
    port.setNumberText(standardPort(chosen));
}

// Every provider's server takes TLS from the first byte.
void AccountControls::fillServer(const OAuthProvider& provider)
{
    host.setText(provider.server);
    security.select(ConnectionSecurity::TlsOnConnect);
    port.setNumberText(provider.port);
}

void AccountControls::applyPresetRule()
{
    bool other = preset.chosen() == ServerPreset::Other;
    host.enable(other);
    security.enable(other);
    port.enable(other);
}
