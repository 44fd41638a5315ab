#include "app/ErrorText.h"

#include <cstring>

#include "app/Errors.h"

namespace {

struct ErrorTextRow {
    long code;
    const char* text;
};

constexpr ErrorTextRow kErrorTexts[] = {
    {ERR_FILE_OPEN, "No se pudo abrir el archivo."},
    {ERR_NO_MEMORY, "No hay suficiente memoria. Cierre alguna de las aplicaciones."},
    {ERR_REGISTRY_READ, "No se pudo encontrar la entrada en la registry."},
    {ERR_REGISTRY_WRITE, "Se produjo un error al escribir la nueva configuración en la registry."},
};

constexpr char kUndocumented[] = "Error no documentado.";

} // namespace

int CErrorText::GetText(long code, char* buffer) const
{
    const char* text = kUndocumented;
    for (const ErrorTextRow& row : kErrorTexts) {
        if (row.code == code) {
            text = row.text;
            break;
        }
    }
    const std::size_t size = std::strlen(text) + 1;
    std::memcpy(buffer, text, size);
    return static_cast<int>(size);
}

std::string CErrorText::Text(long code) const
{
    char buffer[kBufferSize];
    const int size = GetText(code, buffer);
    return std::string(buffer, static_cast<std::size_t>(size - 1));
}
