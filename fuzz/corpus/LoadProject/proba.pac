<Groups Mute='False'
        Volume='0'>
  <Group LongName='Proba Group'
         ShortName='PROBA'
         Volume_A='-95.5'
         Volume_B='-95.5'
         Sensitivity_A='-95.5'
         Sensitivity_B='-95.5'
         Limiter_A='10'
         Limiter_B='10'
         Volume_Lock='True'
         Sensitivity_Lock='False'
         Limiter_Lock='False'
         Mute='False'>
    <Devices>
      <Device LongName='Amplifier 01'
              ShortName='AMP01'
              IPAddress='192.168.1.234'
              Mute_CHA='False'
              Mute_CHB='False'>
      </Device>
    </Devices>
  </Group>
</Groups>
<Application>
  <Form Left='190'
        Top='105'
        Width='1475'
        Height='901'>
  </Form>
</Application>
