<Application><Form Top='10' Left='20' Height='300' Width='400'/></Application>
<Groups Volume='-6' Mute='1'><Group ShortName='ab' LongName='First' Volume_A='-10.25' Volume_B='0'
 Sensitivity_A='-95.5' Sensitivity_B='-3E1' Limiter_A='100' Limiter_B='1e2' Volume_Lock='true'
 Sensitivity_Lock='0' Limiter_Lock='-1' Mute='FALSE'><Devices><Device IPAddress='127.0.0.1'
 ShortName='amp01' LongName='R&amp;D &#38; Hall' Mute_CHA='True' Mute_CHB='False'/></Devices></Group>
<Group ShortName='AB' LongName='Second' Volume_A='-1' Volume_B='-2' Sensitivity_A='-3'
 Sensitivity_B='-4' Limiter_A='5' Limiter_B='6' Volume_Lock='False' Sensitivity_Lock='False'
 Limiter_Lock='False' Mute='True'><Devices></Devices></Group></Groups>