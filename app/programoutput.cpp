#include "programoutput.h"

namespace blinkwerk {

ProgramOutput::ProgramOutput(portio::OutputRole role, const OutputChoice &choice)
    : m_session(portio::sessionSetup(role))
    , m_bound(m_session.bind(choice.spec, choice.automatic))
{
    if (m_bound.outcome != portio::OutputSelection::Refused)
        m_route.emplace(m_session.port());
}

ProgramOutput::~ProgramOutput()
{
    close();
}

void ProgramOutput::close()
{
    m_route.reset();
    m_session.close();
}

} // namespace blinkwerk
